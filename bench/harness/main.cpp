#include "harness.h"

int main(int argc, char** argv) { return benchmark::harness::Main(argc, argv); }
