// lumerca-wine-native-convert OUTDIR FILE [NAME]
//
// Imports FILE with the native build into OUTDIR and prints what lumerca-host
// prints for the DLL: the result ImportLumercaFile would give (1, 0 or -1)
// and the name buffer afterwards (the normalised name on 1, NAME untouched
// otherwise).

#include <lumerca/marker.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fputs("usage: lumerca-wine-native-convert OUTDIR FILE [NAME]\n", stderr);
    return 2;
  }
  const std::string given = argc == 4 ? argv[3] : "";
  const auto result = lumerca::ImportMarker(argv[2], given, argv[1]);
  int code = 0;
  std::string name = given;
  if (result.status == lumerca::ImportStatus::Imported) {
    code = 1;
    name = result.name;
  } else if (result.status == lumerca::ImportStatus::NoPieces) {
    code = -1;
  }
  std::printf("result: %d\nname: %s\n", code, name.c_str());
  return 0;
}
