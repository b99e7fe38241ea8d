#include "cli/CommandLine.h"

int main(int argc, char** argv) { return raitakone::runProgram(argc, argv); }
