// The viewer's page with its scripts and styles inline, built into the program from viewer/ by
// cmake/embed-viewer.cmake: the documents go between the head and the tail.
#pragma once

#include <string_view>

namespace vorlith::report {

extern const std::string_view kPageHead;  // up to the first script
extern const std::string_view kPageTail;  // the scripts and the rest

// The trend page of `vorlith history --html`, from viewer/history.html, split the same way.
extern const std::string_view kHistoryPageHead;
extern const std::string_view kHistoryPageTail;

}  // namespace vorlith::report
