// Process entry of zrkupd: hands the command line to the program and keeps
// every fault from unwinding out of main.
#include "app/program.h"
#include "platform/command_line.h"

int main(int argc, char **argv) {
  try {
    return app::RunProgram(platform::ProgramParameters(argc, argv));
  } catch (...) {
    // The run did not finish as it should; 0 would report success.
    return 1;
  }
}
