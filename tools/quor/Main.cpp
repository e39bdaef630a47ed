// quor: the command-line dialer. Everything lives in the quortool library.
#include "tools/quor/Cli.h"

int main(int argc, char** argv) {
  return quortool::RunCli(argc, argv);
}
