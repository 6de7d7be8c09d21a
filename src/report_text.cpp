#include "report_text.h"

#include "document.h"

namespace vorlith::report {

using std::string;
using std::string_view;

namespace {

__extension__ typedef unsigned __int128 Wide;

constexpr string_view kEllipsis = "\xE2\x80\xA6";  // "…"

string decimal(Wide n) {
  string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(n % 10)));
    n /= 10;
  } while (n != 0);
  return digits;
}

Wide magnitude(Delta delta) {
  return delta < 0 ? -static_cast<Wide>(delta) : Wide(delta);
}

// `n` divided by `unit` in tenths, rounded half up: "12.3".
string tenths(Wide n, Wide unit) {
  Wide t = (n * 10 + unit / 2) / unit;
  return decimal(t / 10) + "." + decimal(t % 10);
}

string human(Wide bytes) {
  constexpr Wide kKiB = 1024;
  if (bytes < kKiB) {
    return decimal(bytes) + " B";
  }
  if (bytes < kKiB * kKiB) {
    return tenths(bytes, kKiB) + " KiB";
  }
  if (bytes < kKiB * kKiB * kKiB) {
    return tenths(bytes, kKiB * kKiB) + " MiB";
  }
  return tenths(bytes, kKiB * kKiB * kKiB) + " GiB";
}

}  // namespace

string humanSize(uint64_t bytes) {
  return human(bytes);
}

string signedBytes(Delta delta) {
  if (delta == 0) {
    return "0";
  }
  return (delta < 0 ? "-" : "+") + decimal(magnitude(delta));
}

string signedHumanSize(Delta delta) {
  if (delta == 0) {
    return "0 B";
  }
  return (delta < 0 ? "-" : "+") + human(magnitude(delta));
}

string share(uint64_t part, uint64_t whole) {
  if (whole == 0) {
    return "-";
  }
  return tenths(Wide(part) * 100, whole) + "%";
}

string signedShare(Delta delta, uint64_t base) {
  if (base == 0) {
    return "n/a";
  }
  if (delta == 0) {
    return "0.00%";
  }
  // Hundredths of a per cent, rounded half up.
  Wide hundredths = (magnitude(delta) * 10000 + base / 2) / base;
  string text = delta < 0 ? "-" : "+";
  string fraction = decimal(hundredths % 100);
  return text + decimal(hundredths / 100) + "." + (fraction.size() < 2 ? "0" : "") + fraction + "%";
}

size_t columns(string_view text) {
  size_t count = 0;
  for (char c : text) {
    count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  }
  return count;
}

string shortenMiddle(string_view text, size_t width) {
  size_t total = columns(text);
  if (total <= width) {
    return string(text);
  }
  if (width == 0) {
    return string();
  }
  // The end says which symbol it is, the start where it lives: the end gets the odd column.
  size_t keep = width - 1;
  size_t headColumns = keep / 2;
  size_t tailColumns = keep - headColumns;
  auto isLead = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; };
  size_t head = 0;
  for (size_t seen = 0; head < text.size(); ++head) {
    if (isLead(text[head]) && seen++ == headColumns) {
      break;
    }
  }
  size_t tail = text.size();
  for (size_t seen = 0; tail > 0 && seen < tailColumns;) {
    --tail;
    seen += isLead(text[tail]);
  }
  return string(text.substr(0, head)) + string(kEllipsis) + string(text.substr(tail));
}

string shortenPath(string_view text, size_t width) {
  if (columns(text) <= width) {
    return string(text);
  }
  if (width == 0) {
    return string();
  }
  size_t separator = text.rfind(kPathSeparator);
  string_view last =
      separator == string_view::npos ? text : text.substr(separator + kPathSeparator.size());
  bool cut = last.size() != text.size();
  size_t room = cut ? width - 1 : width;  // "…" in front when components go
  if (columns(last) <= room) {
    // The earliest component boundary from which the rest fits: components are added from the
    // right while they fit, so a path of many components costs one pass, not one per component.
    size_t from = separator + kPathSeparator.size();
    size_t used = columns(last);
    const size_t separatorColumns = columns(kPathSeparator);
    for (size_t at = separator; at != 0;) {
      size_t before = text.rfind(kPathSeparator, at - 1);
      if (before == string_view::npos) {
        break;
      }
      size_t start = before + kPathSeparator.size();
      used += columns(text.substr(start, at - start)) + separatorColumns;
      if (used > room) {
        break;
      }
      from = start;
      at = before;
    }
    return string(kEllipsis) + string(text.substr(from));
  }
  // The last component alone is too long: its name up to its first bracket stays.
  size_t bracket = last.find_first_of("(<[");
  size_t head = bracket == string_view::npos ? 0 : bracket + 1;
  if (columns(last.substr(0, head)) + 8 > room) {
    return (cut ? string(kEllipsis) : string()) + shortenMiddle(last, room);
  }
  return (cut ? string(kEllipsis) : string()) + string(last.substr(0, head)) +
         shortenMiddle(last.substr(head), room - columns(last.substr(0, head)));
}

string printablePath(const std::vector<string_view>& groups, string_view key) {
  string path;
  for (string_view group : groups) {
    path += printable(group);
    path += kPathSeparator;
  }
  path += printable(key);
  return path;
}

string padLeft(string_view text, size_t width) {
  size_t used = columns(text);
  return string(used < width ? width - used : 0, ' ') + string(text);
}

string padRight(string_view text, size_t width) {
  size_t used = columns(text);
  return string(text) + string(used < width ? width - used : 0, ' ');
}

}  // namespace vorlith::report
