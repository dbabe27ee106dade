// tabpeek - a metadata file printed as text.
#include "tabpeek.h"

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "mtx/mtx.h"
#include "mtx/mtxwriter.h"

namespace tabpeek {

namespace {

constexpr size_t kMaxArgument = 254;  // the argument is cut to this many characters

void printUsage(std::FILE* console, const char* program) {
  std::fprintf(console, "\nTabpeek V1.00\n");
  std::fprintf(console, "\nCommand usage is:\n\n");
  std::fprintf(console, "  %s mtx-file-name\n\n", program);
  std::fprintf(console, "A report file is printed with with the name of\n");
  std::fprintf(console, "the metadata file and an extension of msg\n");
  std::fprintf(console,
               "Exit code 102: the file is not a valid metadata file; the reason is printed.\n");
}

// A Unicode-area text as single bytes. Every unit a metadata file is written with is a widened
// byte; a unit above 255 has no byte and shows as '?'.
std::string narrow(const char16_t* text) {
  std::string out;
  for (; *text != 0; ++text) out.push_back(*text <= 0xFF ? static_cast<char>(*text) : '?');
  return out;
}

void printTagEntries(const mtx::MetadataImage& image, std::FILE* report) {
  std::fprintf(report, " Type Format    RawLen   Flags   Name\n\n");
  for (int i = 0; i < image.maxVars(); ++i) {
    const mtx::TagEntry e = image.tagEntry(i);
    std::fprintf(report, "%5.5s %-10.10s %5.5s 0x%.2x 0x%.2x %s\n", image.narrowText(e.tagOffset),
                 mtx::typeDisplayName(e.type),
                 narrow(image.unicodeText(e.rawLenUnicodeOffset)).c_str(), e.flags, e.flags2,
                 image.narrowText(e.nameOffset));
  }
}

void printRepeatEntries(const mtx::MetadataImage& image, std::FILE* report) {
  std::fprintf(report, "\n\n\nRepeating item definitions\n");
  std::fprintf(report, "\nMsg Cnt 1st  name          Allowed items\n\n");
  for (int i = 0; i < image.repeatCount(); ++i) {
    const mtx::RepeatEntry e = image.repeatEntry(i);
    // Every item is printed, however long the list: a large level's groups list hundreds.
    std::string items;
    for (const char16_t* item = image.unicodeText(e.itemsOffset); *item != 0;) {
      const std::string text = narrow(item);
      items += text;
      items += ' ';
      item += text.size() + 1;
    }
    std::fprintf(report, "%2s %3s  %3s  %-20s %s\n", e.messageType,
                 narrow(image.unicodeText(e.countTagOffset)).c_str(),
                 narrow(image.unicodeText(e.firstTagOffset)).c_str(),
                 narrow(image.unicodeText(e.groupNameOffset)).c_str(), items.c_str());
  }
}

void printHeader(const mtx::MetadataHeader& h, std::FILE* report) {
  std::fprintf(report, "\nHeader Length %d\n", static_cast<int8_t>(h.headerLength));
  std::fprintf(report, "Version       %d\n", static_cast<int8_t>(h.version));
  std::fprintf(report, "Max vars      %d\n", h.maxVars);
  std::fprintf(report, "Names offset  %d\n", h.namesOffset);
  std::fprintf(report, "Unicode ofs   %d\n", h.unicodeOffset);
}

}  // namespace

int run(int argc, const char* const argv[], std::FILE* console) {
  if (argc < 2 || argv[1][0] == '?' || (argv[1][0] != '\0' && argv[1][1] == '?')) {
    printUsage(console, argc > 0 && argv[0] ? argv[0] : "tabpeek");
    return kExitUsage;
  }
  const std::string path = std::string(argv[1]).substr(0, kMaxArgument);

  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(console, "Unable to open input file - %s\n", path.c_str());
    return kExitInput;
  }
  const std::string reportPath = mtx::reportFileName(path);
  std::FILE* report = std::fopen(reportPath.c_str(), "w");
  if (report == nullptr) {
    in.close();
    std::fprintf(console, "Unable to open message file - %s\n", reportPath.c_str());
    return kExitReport;
  }
  std::fprintf(report, "Processing file %s\n", path.c_str());

  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                             std::istreambuf_iterator<char>());
  in.close();
  std::string reason;
  std::unique_ptr<mtx::MetadataImage> image =
      mtx::MetadataImage::fromBytes(std::move(bytes), &reason);
  if (!image) {
    std::fprintf(console, "Not a valid metadata file - %s: %s\n", path.c_str(), reason.c_str());
    std::fprintf(report, "Not a valid metadata file - %s: %s\n", path.c_str(), reason.c_str());
    std::fclose(report);
    return kExitMalformed;
  }
  printTagEntries(*image, report);
  printRepeatEntries(*image, report);
  printHeader(image->header(), report);
  std::fclose(report);
  return 0;
}

}  // namespace tabpeek
