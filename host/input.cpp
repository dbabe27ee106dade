#include "host/input.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace fixhost {

namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Reads all of fd; returns false with errno set on a read error.
bool readAll(int fd, std::string& out) {
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(buffer, static_cast<size_t>(n));
  }
}

std::string replaceAll(std::string data, std::string_view from, std::string_view to) {
  if (from.empty() || data.find(from) == std::string::npos) return data;
  std::string out;
  out.reserve(data.size());
  size_t pos = 0;
  for (size_t hit; (hit = data.find(from, pos)) != std::string::npos; pos = hit + from.size()) {
    out.append(data, pos, hit - pos);
    out.append(to);
  }
  out.append(data, pos, std::string::npos);
  return out;
}

// Where the message that starts with "8=" at begin ends, by its BodyLength: the position after
// the SOH that closes "10=nnn", or npos when the framing does not hold.
size_t endByBodyLength(std::string_view data, size_t begin) {
  size_t soh = data.find(kSoh, begin);
  if (soh == std::string_view::npos || data.compare(soh + 1, 2, "9=") != 0) {
    return std::string_view::npos;
  }
  size_t pos = soh + 3;
  size_t length = 0;
  size_t digits = 0;
  for (; pos < data.size() && isDigit(data[pos]) && digits < 9; ++pos, ++digits) {
    length = length * 10 + static_cast<size_t>(data[pos] - '0');
  }
  if (digits == 0 || pos >= data.size() || data[pos] != kSoh) return std::string_view::npos;
  size_t trailer = pos + 1;
  if (length > data.size() - trailer) return std::string_view::npos;
  trailer += length;
  // The body ends with SOH and the trailer is "10=" three digits SOH.
  if (data.size() - trailer < 7 || data[trailer - 1] != kSoh ||
      data.compare(trailer, 3, "10=") != 0 || !isDigit(data[trailer + 3]) ||
      !isDigit(data[trailer + 4]) || !isDigit(data[trailer + 5]) || data[trailer + 6] != kSoh) {
    return std::string_view::npos;
  }
  return trailer + 7;
}

// The first "8=" in [begin, end) that starts the text or follows a character other than a digit.
size_t findBeginString(std::string_view data, size_t begin, size_t end) {
  for (size_t pos = begin; pos + 1 < end; ++pos) {
    pos = data.find("8=", pos);
    if (pos == std::string_view::npos || pos + 1 >= end) break;
    if (pos == begin || !isDigit(data[pos - 1])) return pos;
  }
  return std::string_view::npos;
}

}  // namespace

std::string readInput(const std::string& path) {
  std::string data;
  if (path == "-") {
    if (!readAll(STDIN_FILENO, data)) {
      throw InputError("fixhost: cannot read standard input: " + std::string(strerror(errno)));
    }
    return data;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw InputError("fixhost: cannot read " + path + ": " + strerror(errno));
  bool ok = readAll(fd, data);
  int error = errno;
  ::close(fd);
  if (!ok) throw InputError("fixhost: cannot read " + path + ": " + strerror(error));
  return data;
}

std::vector<Source> loadSources(const std::vector<std::string>& paths, std::string_view delimiter) {
  std::vector<Source> sources;
  for (const std::string& path : paths.empty() ? std::vector<std::string>{"-"} : paths) {
    sources.push_back({path, toSoh(readInput(path), delimiter)});
  }
  return sources;
}

std::vector<Record> allRecords(const std::vector<Source>& sources, bool findBegin) {
  std::vector<Record> records;
  for (const Source& source : sources) {
    std::vector<Record> some =
        splitRecords(source, findBegin, sources.size() > 1 ? &source.name : nullptr);
    records.insert(records.end(), some.begin(), some.end());
  }
  return records;
}

std::string toSoh(std::string data, std::string_view delimiter) {
  return replaceAll(std::move(data), delimiter, std::string_view(&kSoh, 1));
}

std::string fromSoh(std::string data, std::string_view delimiter) {
  if (delimiter.empty()) return data;
  return replaceAll(std::move(data), std::string_view(&kSoh, 1), delimiter);
}

std::vector<Record> splitRecords(const Source& source, bool findBegin,
                                 const std::string* shownName) {
  std::string_view data = source.data;
  std::vector<Record> records;
  size_t line = 1;
  size_t counted = 0;  // line holds the line number of position counted
  auto lineAt = [&](size_t pos) {
    line += static_cast<size_t>(std::count(data.begin() + static_cast<std::ptrdiff_t>(counted),
                                           data.begin() + static_cast<std::ptrdiff_t>(pos), '\n'));
    counted = pos;
    return line;
  };
  size_t messages = 0;
  size_t pos = 0;
  bool lineStart = true;  // only blanks between the last line end and pos
  while (pos < data.size()) {
    if (isBlank(data[pos])) {
      if (data[pos] == '\n') lineStart = true;
      ++pos;
      continue;
    }
    size_t lineEnd = data.find('\n', pos);
    if (lineEnd == std::string_view::npos) lineEnd = data.size();
    if (lineStart && data[pos] == '#') {
      if (data.compare(pos, 2, "#!") == 0) {
        Record record;
        record.kind = Record::Kind::Management;
        record.text = data.substr(pos + 2, lineEnd - pos - 2);
        record.line = lineAt(pos);
        record.file = shownName;
        records.push_back(record);
      }
      pos = lineEnd;
      continue;
    }
    if (findBegin && data.compare(pos, 2, "8=") != 0) {
      size_t begin = findBeginString(data, pos, lineEnd);
      if (begin == std::string_view::npos) {
        pos = lineEnd;
        continue;
      }
      pos = begin;
    }
    size_t end = std::string_view::npos;
    if (data.compare(pos, 2, "8=") == 0) end = endByBodyLength(data, pos);
    if (end == std::string_view::npos) {
      size_t trailer = data.substr(0, lineEnd)
                           .find(
                               "\x01"
                               "10=",
                               pos);
      size_t soh = trailer == std::string_view::npos ? trailer : data.find(kSoh, trailer + 1);
      end = soh != std::string_view::npos && soh < lineEnd ? soh + 1 : lineEnd;
      while (end > pos && data[end - 1] == '\r') --end;
    }
    Record record;
    record.text = data.substr(pos, end - pos);
    record.line = lineAt(pos);
    record.number = ++messages;
    record.file = shownName;
    records.push_back(record);
    pos = end;
    lineStart = false;
  }
  return records;
}

std::vector<std::string> managementWords(std::string_view line) {
  std::vector<std::string> words;
  size_t pos = 0;
  while (pos < line.size()) {
    if (isBlank(line[pos])) {
      ++pos;
      continue;
    }
    size_t end = pos;
    while (end < line.size() && !isBlank(line[end])) ++end;
    words.emplace_back(line.substr(pos, end - pos));
    if (words.back().size() > 8) {
      throw InputError("management word \"" + words.back() + "\" is longer than 8 characters");
    }
    pos = end;
  }
  if (words.empty()) throw InputError("management line without a command");
  return words;
}

std::string managementText(const std::vector<std::string>& words) {
  std::string text = "00000000";
  for (const std::string& word : words) {
    if (word.size() > 8) {
      throw InputError("management word \"" + word + "\" is longer than 8 characters");
    }
    text += word;
    text.append(8 - word.size(), ' ');
  }
  return text;
}

}  // namespace fixhost
