// pictovance: paints random abstract pictures in a small window.
#include "app/startup.h"
#include "imaging/heap.h"

int main(int argc, char** argv) {
  pictovance::KeepBitmapsInHeap();
  return pictovance::RunProgram(argc, argv);
}
