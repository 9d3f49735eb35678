// The manuals the build made: both PDFs open (poppler's pdftotext reads
// them), the user's manual names every page of the window and every key of
// the settings file and holds every picture the build took of the window,
// and the AT command manual names every command of the tool's command table.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>

#include "atcmd/command_table.h"
#include "device/settings_file.h"

namespace {

namespace fs = std::filesystem;

const fs::path kManualDir = KX_MANUAL_DIR;
const fs::path kPictureDir = KX_MANUAL_PICTURE_DIR;

// A tool's standard output; empty when it fails.
std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
  return ::pclose(pipe) == 0 ? out : std::string();
}

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// The PDF's text with every run of blanks and line ends made one blank, so
// that a name broken over two lines is still found.
std::string pdfText(const fs::path& pdf) {
  std::istringstream words(run("pdftotext " + quoted(pdf) + " -"));
  std::string text, word;
  while (words >> word) text += word + ' ';
  return text;
}

TEST(Manuals, UserManualNamesEveryPageAndKeyAndHoldsThePictures) {
  const fs::path pdf = kManualDir / "KX627 Configuration Manual.pdf";
  ASSERT_TRUE(fs::is_regular_file(pdf)) << pdf;
  const std::string text = pdfText(pdf);
  ASSERT_FALSE(text.empty()) << "pdftotext cannot read " << pdf;
  for (const char* page : {"Local Device Settings", "Pairing", "Connection", "Remote Device Settings"})
    EXPECT_NE(text.find(page), std::string::npos) << page;
  for (const char* key : kx::kSettingsFileKeys) EXPECT_NE(text.find(key), std::string::npos) << key;

  // Each picture the build took is in the PDF at least once (pdfimages
  // lists every placement; the same object placed twice counts once).
  std::size_t pictures = 0;
  for (const auto& entry : fs::directory_iterator(kPictureDir)) pictures += entry.path().extension() == ".png";
  ASSERT_GE(pictures, 4u);
  std::istringstream list(run("pdfimages -list " + quoted(pdf)));
  std::set<std::string> objects;
  for (std::string line; std::getline(list, line);) {
    std::istringstream row(line);
    std::string page, num, type, width, height, color, comp, bpc, enc, interp, object;
    if (row >> page >> num >> type >> width >> height >> color >> comp >> bpc >> enc >> interp >> object &&
        type == "image")
      objects.insert(object);
  }
  EXPECT_GE(objects.size(), pictures);
}

TEST(Manuals, AtCommandManualNamesEveryCommandOfTheTable) {
  const fs::path pdf = kManualDir / "AT Command Manual.pdf";
  ASSERT_TRUE(fs::is_regular_file(pdf)) << pdf;
  const std::string text = pdfText(pdf);
  ASSERT_FALSE(text.empty()) << "pdftotext cannot read " << pdf;
  for (const kx::CommandTableRow* row = kx::commandTable; row->index != 0; ++row) {
    std::string name = row->pattern;
    if (!name.empty() && name.back() == '\r') name.pop_back();
    // As a heading of its own: the name followed by its index.
    EXPECT_NE(text.find(name + " (" + std::to_string(row->index) + ")"), std::string::npos) << name;
  }
}

}  // namespace
