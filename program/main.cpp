#include "program/entry.hpp"
#include "runtime/system.hpp"

int main(int argc, char** argv) { kel::sys::start(argc, argv, kel::sys::entry); }
