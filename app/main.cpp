// pictovance: paints random abstract pictures in a small window.
#include "app/startup.h"

int main(int argc, char** argv) { return pictovance::RunProgram(argc, argv); }
