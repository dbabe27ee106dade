// tabwright - definitions files in, metadata file and report out.
#include "tabwright.h"

#include <string>
#include <vector>

#include "mtx/mtxwriter.h"

namespace tabwright {

namespace {

void printUsage(std::FILE* console, const char* program) {
  std::fprintf(console, "\nTabwright V1.00\n");
  std::fprintf(console, "\nCommand usage is:\n\n");
  std::fprintf(console,
               "  %s Fix-definitions-file Repeating-definitions-file Fix-metadata-file\n\n",
               program);
  std::fprintf(console, "A report file is printed with with the name of\n");
  std::fprintf(console, "the fix definitions file and an extension of msg\n");
  std::fprintf(console, "The file extension should be omitted from the metadata");
  std::fprintf(console, " file name.  An extension of \"mtx\" will be appended.\n");
  std::fprintf(console,
               "Exit code 103: a definition does not fit the metadata file format; the report "
               "file names it and no metadata file is written.\n");
}

bool wantsUsage(int argc, const char* const argv[]) {
  if (argc < 4) return true;
  const char* first = argv[1];
  return first[0] == '?' || (first[0] != '\0' && first[1] == '?');
}

// Counts of the definitions file, for the report's totals.
struct Totals {
  int linesRead = 0;
  int comments = 0;
  int invalid = 0;
};

// Writes the metadata file and its report lines; the report says when it cannot be created.
void writeMetadata(const mtx::MetadataWriter& writer, const std::vector<uint8_t>& image,
                   const std::string& path, std::FILE* report) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) {
    std::fprintf(report, "Unable to open meta data file - %s\n", path.c_str());
    return;
  }
  std::fprintf(report, "Writing meta data file %s\n", path.c_str());
  std::fwrite(image.data(), 1, image.size(), out);
  for (const mtx::TagEntry& e : writer.entries()) {
    std::fprintf(report, "%4.4s %s\n", writer.narrowText(e.tagOffset),
                 writer.narrowText(e.nameOffset));
  }
  std::fclose(out);
}

}  // namespace

int run(int argc, const char* const argv[], std::FILE* console) {
  if (wantsUsage(argc, argv)) {
    printUsage(console, argc > 0 && argv[0] ? argv[0] : "tabwright");
    return kExitUsage;
  }
  const char* definitionsPath = argv[1];
  const char* repeatsPath = argv[2];
  const std::string metadataPath = mtx::metadataFileName(argv[3]);
  const std::string reportPath = mtx::reportFileName(definitionsPath);

  std::FILE* definitions = std::fopen(definitionsPath, "r");
  if (definitions == nullptr) {
    std::fprintf(console, "Unable to open input file - %s\n", definitionsPath);
    return kExitDefinitions;
  }
  std::FILE* repeats = std::fopen(repeatsPath, "r");
  if (repeats == nullptr) {
    std::fclose(definitions);
    std::fprintf(console, "Unable to open repeating definitions file - %s\n", repeatsPath);
    return kExitRepeats;
  }
  std::FILE* report = std::fopen(reportPath.c_str(), "w");
  if (report == nullptr) {
    std::fclose(definitions);
    std::fclose(repeats);
    std::fprintf(console, "Unable to open message file - %s\n", reportPath.c_str());
    return kExitReport;
  }

  mtx::MetadataWriter writer;
  Totals totals;
  std::string line;

  std::fprintf(report, "Processing file %s\n", definitionsPath);
  std::fflush(report);
  mtx::LineReader definitionLines(definitions);
  while (definitionLines.next(&line)) {
    ++totals.linesRead;
    mtx::FieldDefinition field;
    if (mtx::isCommentLine(line)) {
      ++totals.comments;
    } else if (mtx::parseFieldLine(line, &field)) {
      writer.addField(field);
    } else {
      ++totals.invalid;
    }
  }

  std::fprintf(report, "Processing file %s\n", repeatsPath);
  std::fflush(report);
  int problems = 0;
  int repeatLine = 0;
  mtx::LineReader repeatLines(repeats);
  while (repeatLines.next(&line)) {
    ++repeatLine;
    mtx::RepeatDefinition repeat;
    // A line without any comma has no message type field and gives no entry.
    if (mtx::isCommentLine(line) || !mtx::parseRepeatLine(line, &repeat)) continue;
    std::string problem;
    if (!writer.addRepeat(repeat, &problem)) {
      std::fprintf(report, "Repeating definitions line %d rejected: %s\n", repeatLine,
                   problem.c_str());
      ++problems;
    }
  }

  if (writer.fieldCount() > 0) {
    std::vector<uint8_t> image;
    std::string problem;
    if (problems == 0 && !writer.build(&image, &problem)) {
      std::fprintf(report, "Meta data file too large: %s\n", problem.c_str());
      ++problems;
    }
    if (problems > 0) {
      std::fprintf(report, "Meta data file not written - %s\n", metadataPath.c_str());
    } else {
      writeMetadata(writer, image, metadataPath, report);
    }
    std::fprintf(report, "Input lines read %5d  file %s\n", writer.fieldCount(), definitionsPath);
  }

  std::fprintf(report, "\nTotal lines processed in metadata definitions file %d\n",
               totals.linesRead);
  std::fprintf(report, "Total comment lines skipped %d\n", totals.comments);
  std::fprintf(report, "Total invalid lines skipped %d\n", totals.invalid);
  std::fprintf(report, "Total repeating item lines processed %d\n", writer.repeatCount());

  std::fclose(definitions);
  std::fclose(repeats);
  std::fclose(report);
  return problems > 0 ? kExitUnrepresentable : 0;
}

}  // namespace tabwright
