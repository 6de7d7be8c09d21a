# Builds the self-contained page from viewer/ into a C++ source, so that an installed vorlith
# writes --html pages with no source tree at hand:
#   cmake -DVIEWER_DIR=viewer -DOUTPUT=viewer_page.cpp -P embed-viewer.cmake
# PAGE names another page of viewer/ (index.html by default) and NAME the constants it becomes
# (kPageHead and kPageTail by default; NAME=HistoryPage gives kHistoryPageHead, kHistoryPageTail).
# index.html's <script src="X.js"></script> and <link rel="stylesheet" href="X.css"> become
# inline elements holding the files; the Content-Security-Policy allows exactly those, by their
# sha256 hashes. The source splits the page before its first script, where the run puts the
# documents: kPageHead + documents + kPageTail.

if(NOT DEFINED PAGE)
  set(PAGE index.html)
endif()
if(NOT DEFINED NAME)
  set(NAME Page)
endif()

set(alphabet "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")

# The base64 text of the bytes whose hexadecimal digits are `hex`.
function(hex_to_base64 hex out)
  string(LENGTH "${hex}" length)
  set(result "")
  set(at 0)
  while(at LESS length)
    math(EXPR left "${length} - ${at}")
    if(left GREATER 6)
      set(left 6)
    endif()
    string(SUBSTRING "${hex}" ${at} ${left} chunk)
    math(EXPR value "0x${chunk}")
    # Short final groups are padded with zero bits to 24 and with "=" in the text.
    math(EXPR value "${value} << ((6 - ${left}) * 4)")
    math(EXPR chars "${left} / 2 + 1")
    foreach(k RANGE 0 3)
      if(k LESS chars)
        math(EXPR index "(${value} >> (18 - 6 * ${k})) & 63")
        string(SUBSTRING "${alphabet}" ${index} 1 c)
        string(APPEND result "${c}")
      else()
        string(APPEND result "=")
      endif()
    endforeach()
    math(EXPR at "${at} + 6")
  endwhile()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

function(csp_hash text out)
  string(SHA256 hex "${text}")
  hex_to_base64("${hex}" base64)
  set(${out} "'sha256-${base64}'" PARENT_SCOPE)
endfunction()

file(READ "${VIEWER_DIR}/${PAGE}" page)
set(script_hashes "")
set(style_hashes "")

# One pass from the start, so that text inside an inlined file is never taken for a tag.
# "</script" or "</style" inside a file would end its element early: written "<\/" instead.
set(tag_re "<script src=\"([^\"]+)\"></script>|<link rel=\"stylesheet\" href=\"([^\"]+)\">")
set(done "")
set(rest "${page}")
while(rest MATCHES "${tag_re}")
  set(tag "${CMAKE_MATCH_0}")
  set(script_file "${CMAKE_MATCH_1}")
  set(style_file "${CMAKE_MATCH_2}")
  string(FIND "${rest}" "${tag}" at)
  string(LENGTH "${tag}" tag_length)
  string(SUBSTRING "${rest}" 0 ${at} before)
  math(EXPR after_at "${at} + ${tag_length}")
  string(SUBSTRING "${rest}" ${after_at} -1 rest)
  if(NOT script_file STREQUAL "")
    file(READ "${VIEWER_DIR}/${script_file}" code)
    string(REGEX REPLACE "</([Ss][Cc][Rr][Ii][Pp][Tt])" "<\\\\/\\1" code "${code}")
    csp_hash("${code}" hash)
    string(APPEND script_hashes " ${hash}")
    string(APPEND done "${before}<script>${code}</script>")
  else()
    file(READ "${VIEWER_DIR}/${style_file}" css)
    string(REGEX REPLACE "</([Ss][Tt][Yy][Ll][Ee])" "<\\\\/\\1" css "${css}")
    csp_hash("${css}" hash)
    string(APPEND style_hashes " ${hash}")
    string(APPEND done "${before}<style>${css}</style>")
  endif()
endwhile()
set(page "${done}${rest}")

# The policy: the page's own, with script-src and style-src replaced by the hashes (a style-src
# that already allows inline styles keeps doing so, since hashes would turn that off); a page
# without one gets a policy that allows nothing else.
set(csp_re "<meta http-equiv=\"Content-Security-Policy\" content=\"([^\"]*)\">")
if(page MATCHES "${csp_re}")
  set(csp_tag "${CMAKE_MATCH_0}")
  string(REPLACE ";" "\n" directives "${CMAKE_MATCH_1}")
  string(REGEX MATCHALL "[^\n]+" directives "${directives}")
  set(policy "")
  set(have_script OFF)
  set(have_style OFF)
  foreach(directive IN LISTS directives)
    string(STRIP "${directive}" directive)
    if(directive MATCHES "^script-src( |$)")
      set(directive "script-src${script_hashes}")
      set(have_script ON)
    elseif(directive MATCHES "^style-src( |$)")
      set(have_style ON)
      if(NOT directive MATCHES "'unsafe-inline'")
        set(directive "style-src${style_hashes}")
      endif()
    endif()
    if(NOT directive STREQUAL "")
      string(APPEND policy "${directive}; ")
    endif()
  endforeach()
  if(NOT have_script)
    string(APPEND policy "script-src${script_hashes}; ")
  endif()
  if(NOT have_style)
    string(APPEND policy "style-src${style_hashes}; ")
  endif()
  string(STRIP "${policy}" policy)
  string(REGEX REPLACE ";$" "" policy "${policy}")
  string(REPLACE "${csp_tag}"
         "<meta http-equiv=\"Content-Security-Policy\" content=\"${policy}\">" page "${page}")
else()
  set(policy "default-src 'none'; script-src${script_hashes}; style-src${style_hashes}; img-src data: blob:; base-uri 'none'; form-action 'none'")
  string(REPLACE "<meta charset=\"utf-8\">"
         "<meta charset=\"utf-8\">\n<meta http-equiv=\"Content-Security-Policy\" content=\"${policy}\">"
         page "${page}")
endif()

# Head and tail around the place for the documents: just before the first script.
string(FIND "${page}" "<script>" first_script)
if(first_script LESS 0)
  message(FATAL_ERROR "${VIEWER_DIR}/${PAGE} has no <script src=...> to embed")
endif()
string(SUBSTRING "${page}" 0 ${first_script} head)
string(SUBSTRING "${page}" ${first_script} -1 tail)

# As byte arrays rather than string literals: no delimiter can clash with the text.
function(to_array name text out)
  file(WRITE "${OUTPUT}.${name}.tmp" "${text}")
  file(READ "${OUTPUT}.${name}.tmp" hex HEX)
  file(REMOVE "${OUTPUT}.${name}.tmp")
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," hex "${hex}")
  string(REGEX REPLACE "(([^,]*,){24})" "\\1\n" hex "${hex}")
  set(${out} "constexpr char k${name}Bytes[${size} + 1] = {\n${hex}0};\n" PARENT_SCOPE)
endfunction()
to_array(${NAME}Head "${head}" head_array)
to_array(${NAME}Tail "${tail}" tail_array)

file(WRITE "${OUTPUT}.new" "// Made by cmake/embed-viewer.cmake from viewer/${PAGE} and the files it names. Do not edit.
#include \"report_html_page.h\"

namespace vorlith::report {
namespace {
${head_array}${tail_array}}  // namespace

const std::string_view k${NAME}Head(k${NAME}HeadBytes, sizeof k${NAME}HeadBytes - 1);
const std::string_view k${NAME}Tail(k${NAME}TailBytes, sizeof k${NAME}TailBytes - 1);

}  // namespace vorlith::report
")
# Only a changed page touches the output, so nothing rebuilds without need.
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
