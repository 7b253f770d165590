// The packer thread: the map that finished last is packed first, and a map
// that fails does not stop the others.
#include <gtest/gtest.h>

#include <condition_variable>

#include "MapTestSupport.h"
#include "maps/uMapPacker.h"
#include "update/DownloadError.h"

namespace {
// What the packer did, in order, across the maps' hosts.
struct TPackLog {
  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<std::wstring> Started;
  int Ended = 0;
  bool Gate = false;  // the first pack waits until the test opens it

  void Start(const std::wstring& name) {
    std::unique_lock<std::mutex> lock(Lock);
    Started.push_back(name);
    Changed.notify_all();
    if (Started.size() == 1) Changed.wait(lock, [this] { return Gate; });
  }
  void End() {
    std::lock_guard<std::mutex> lock(Lock);
    ++Ended;
    Changed.notify_all();
  }
  template <class Pred>
  bool WaitFor(Pred pred) {
    std::unique_lock<std::mutex> lock(Lock);
    return Changed.wait_for(lock, std::chrono::seconds(60), pred);
  }
};

class TLoggingHost : public TFakeMapHost {
 public:
  TLoggingHost(const std::wstring& path, std::wstring name, TPackLog& log)
      : TFakeMapHost(path), FName(std::move(name)), FLog(log) {}
  void CaptionDataPack() override { FLog.Start(FName); }
  void EndLoadingStep() override {
    TFakeMapHost::EndLoadingStep();
    FLog.End();
  }

 private:
  std::wstring FName;
  TPackLog& FLog;
};

struct TPackedMap {
  std::unique_ptr<TLoggingHost> Host;
  std::unique_ptr<TMapLoader> Loader;
};
}  // namespace

TEST(MapPackerTest, TheLastFinishedMapIsPackedFirstAndAFailureStopsNoOther) {
  TInstallFolder folder;
  TPackLog log;
  std::vector<TPackedMap> maps;
  auto make = [&](const std::wstring& name, bool fails) {
    TPackedMap map;
    map.Host = std::make_unique<TLoggingHost>(folder.Path(), name, log);
    map.Loader = std::make_unique<TMapLoader>(name);
    TMapLoaderTestAccess::SetHost(*map.Loader, *map.Host);
    map.Loader->FFilesList.insert(L"a.txt");
    map.Host->Files[L"a.txt"] = {200, Bytes(ToUtf8(name))};
    // A piece without any settings.ini: no image format can be chosen.
    if (fails) {
      map.Loader->FFilesList.insert(L".part_0_0.png");
      map.Host->Files[L".part_0_0.png"] = {200, EncodeImage(kPngGraphicClass, PatternBitmap(4, 4, 1))};
    }
    map.Loader->BeginLoading();
    map.Host->Serve(*map.Loader);
    maps.push_back(std::move(map));
    return maps.back().Loader.get();
  };
  TMapLoader* m1 = make(L"m1", false);
  TMapLoader* m2 = make(L"m2", true);
  TMapLoader* m3 = make(L"m3", false);
  TMapLoader* m4 = make(L"m4", false);
  {
    TMapPacker packer;
    packer.Add(m1);
    ASSERT_TRUE(log.WaitFor([&] { return log.Started.size() == 1; }));
    // While m1 is being packed, m2 and then m3 finish their downloads.
    packer.Add(m2);
    packer.Add(m3);
    packer.Add(m3);
    {
      std::lock_guard<std::mutex> lock(log.Lock);
      log.Gate = true;
    }
    log.Changed.notify_all();
    ASSERT_TRUE(log.WaitFor([&] { return log.Ended == 3; }));
    packer.Add(m4);
    ASSERT_TRUE(log.WaitFor([&] { return log.Ended == 4; }));
  }
  EXPECT_EQ(log.Started, (std::vector<std::wstring>{L"m1", L"m3", L"m2", L"m4"}));
  for (const TPackedMap& map : maps) {
    SCOPED_TRACE(map.Loader->MapName());
    EXPECT_EQ(map.Host->EndSteps, 1);
    EXPECT_EQ(map.Host->Active, 0);
  }
  auto failures = maps[1].Host->FailuresNow();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_TRUE(failures[0]->Is<EDownloadError>());
  for (const wchar_t* packed : {L"m1.zip", L"m3.zip", L"m4.zip"}) EXPECT_TRUE(Exists(folder.Map(packed))) << packed;
  EXPECT_FALSE(Exists(folder.Map(L"m2.zip")));
}
