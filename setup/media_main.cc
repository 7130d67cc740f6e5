// hbtmedia: the build's helper for installation media.
//   hbtmedia leave-out IN.inf OUT.inf [NAME...]   OUT.inf is IN.inf without the NAMEd files
//   hbtmedia check MEDIA                          every file MEDIA/HBT.inf names is there
#include <fstream>
#include <iostream>
#include <sstream>

#include "setup/media.h"

namespace {

bool read_whole(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *text = s.str();
  return true;
}

int leave_out(int argc, char** argv) {
  std::string text, error;
  if (!read_whole(argv[2], &text)) {
    std::cerr << "hbtmedia: cannot read " << argv[2] << "\n";
    return 1;
  }
  auto inf = hbt::setup::InfFile::parse(text, argv[2], &error);
  if (!inf) {
    std::cerr << "hbtmedia: " << error << "\n";
    return 1;
  }
  std::vector<std::string> names(argv + 4, argv + argc), unknown;
  std::string out = hbt::setup::leave_out_files(*inf, text, names, &unknown);
  if (!unknown.empty()) {
    for (const auto& n : unknown) std::cerr << "hbtmedia: " << argv[2] << " lists no file " << n << "\n";
    return 1;
  }
  std::ofstream file(argv[3], std::ios::binary | std::ios::trunc);
  file << out;
  if (!file.flush()) {
    std::cerr << "hbtmedia: cannot write " << argv[3] << "\n";
    return 1;
  }
  for (const auto& n : names)
    std::cout << "HBT.inf: " << n << " is not built in this tree; the media leave it out\n";
  return 0;
}

int check(const std::string& media) {
  std::string text, error;
  std::string inf_path = media + "/HBT.inf";
  if (!read_whole(inf_path, &text)) {
    std::cerr << "hbtmedia: cannot read " << inf_path << "\n";
    return 1;
  }
  auto inf = hbt::setup::InfFile::parse(text, inf_path, &error);
  std::vector<std::string> missing;
  if (!inf || !hbt::setup::missing_media_files(*inf, media + "/", &missing, &error)) {
    std::cerr << "hbtmedia: " << error << "\n";
    return 1;
  }
  for (const auto& m : missing) std::cerr << "hbtmedia: " << m << " is named by HBT.inf but missing\n";
  for (const auto& n : hbt::setup::left_out_files(text))
    std::cout << "media " << media << ": " << n << " left out (not built in this tree)\n";
  if (!missing.empty()) return 1;
  std::cout << "media " << media << ": every file HBT.inf names is present\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string command = argc > 1 ? argv[1] : "";
  if (command == "leave-out" && argc >= 4) return leave_out(argc, argv);
  if (command == "check" && argc == 3) return check(argv[2]);
  std::cerr << "usage: hbtmedia leave-out IN.inf OUT.inf [NAME...] | hbtmedia check MEDIA\n";
  return 2;
}
