/* The default skin: loading it, and the first (decoding) and the cached
 * vx_skin_get_bitmap of the desktop's background. Reads the Velmar.res that
 * the build puts into the device template beside build/bench. */
#include <windows.h>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <string>

#include "plat/host.h"
#include "vx_skin.h"

namespace {

const WCHAR kResPath[] = TEXT("\\residentflash2\\Velmar\\Velmar.res");
const int kDesktopBackground = 200;

bool set_template_root() {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n <= 0) return false;
  std::string dir(exe, (size_t)n);
  dir = dir.substr(0, dir.rfind('/'));
  plat::set_device_root(dir + "/../device-template");
  return true;
}

void BM_SkinLoad(benchmark::State& state) {
  for (auto _ : state) {
    VxSkin* skin = vx_skin_load(kResPath, 0, 1);
    if (!skin) {
      state.SkipWithError("no Velmar.res in the device template");
      return;
    }
    vx_skin_free(skin);
  }
}
BENCHMARK(BM_SkinLoad)->Unit(benchmark::kMicrosecond);

/* Each iteration gives the last reference back, so the next get decodes again. */
void BM_SkinFirstBitmap(benchmark::State& state) {
  VxSkin* skin = vx_skin_load(kResPath, 0, 1);
  VxSkinItem* item = skin ? vx_skin_find(skin, kDesktopBackground) : nullptr;
  if (!item) {
    state.SkipWithError("no desktop background in the skin");
    vx_skin_free(skin);
    return;
  }
  for (auto _ : state) {
    HBITMAP bitmap = vx_skin_get_bitmap(skin, item, 0);
    benchmark::DoNotOptimize(bitmap);
    vx_skin_put_bitmap(skin, item);
  }
  vx_skin_free(skin);
}
BENCHMARK(BM_SkinFirstBitmap)->Unit(benchmark::kMicrosecond);

/* One reference is held throughout, so every get finds the cached bitmap. */
void BM_SkinCachedBitmap(benchmark::State& state) {
  VxSkin* skin = vx_skin_load(kResPath, 0, 1);
  VxSkinItem* item = skin ? vx_skin_find(skin, kDesktopBackground) : nullptr;
  if (!item || !vx_skin_get_bitmap(skin, item, 0)) {
    state.SkipWithError("no desktop background in the skin");
    vx_skin_free(skin);
    return;
  }
  for (auto _ : state) {
    HBITMAP bitmap = vx_skin_get_bitmap(skin, item, 0);
    benchmark::DoNotOptimize(bitmap);
    vx_skin_put_bitmap(skin, item);
  }
  vx_skin_put_bitmap(skin, item);
  vx_skin_free(skin);
}
BENCHMARK(BM_SkinCachedBitmap)->Unit(benchmark::kNanosecond);

}  // namespace

int main(int argc, char** argv) {
  if (!set_template_root()) return 1;
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
