# Sourced by sanitize.sh and fuzz.sh: configures build-san/ with clang,
# AddressSanitizer, UndefinedBehaviorSanitizer and the fuzz targets, without
# the window and the benchmarks. -O1 with line tables only: readable
# sanitizer reports, cheaper to compile than -O2 -g. Warnings are errors
# here too: clang sees some that gcc does not. ccache, when present, makes
# reruns quick.
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build-san -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  "${launcher[@]}" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only" \
  -DPICTOVANCE_SANITIZE=ON -DPICTOVANCE_FUZZ=ON -DPICTOVANCE_WERROR=ON -DPICTOVANCE_BUILD_APP=OFF -DPICTOVANCE_BUILD_BENCH=OFF
