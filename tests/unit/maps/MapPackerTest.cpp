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

}  // namespace

TEST(MapPackerTest, TheLastFinishedMapIsPackedFirstAndAFailureStopsNoOther) {
  TInstallFolder folder;
  TFakeMapHost host(folder.Path());
  TPackLog log;
  std::map<std::wstring, std::shared_ptr<Exception>> outcomes;
  auto make = [&](const std::wstring& name, bool fails) {
    std::shared_ptr<TMapLoader> loader = host.NewLoader(name);
    loader->FFilesList.insert(L"a.txt");
    host.Files[L"a.txt"] = {200, Bytes(ToUtf8(name))};
    // A piece without any settings.ini: no image format can be chosen.
    if (fails) {
      loader->FFilesList.insert(L".part_0_0.png");
      host.Files[L".part_0_0.png"] = {200, EncodeImage(kPngGraphicClass, PatternBitmap(4, 4, 1))};
    }
    loader->BeginLoading();
    host.Serve(*loader);
    host.Files.clear();
    return loader;
  };
  auto m1 = make(L"m1", false);
  auto m2 = make(L"m2", true);
  auto m3 = make(L"m3", false);
  auto m4 = make(L"m4", false);
  ASSERT_TRUE(host.Failures.empty());
  {
    TMapPacker packer([&](const std::shared_ptr<TMapLoader>& map) { log.Start(map->MapName()); },
                      [&](const std::shared_ptr<TMapLoader>& map, std::shared_ptr<Exception> failure) {
                        {
                          std::lock_guard<std::mutex> lock(log.Lock);
                          outcomes[map->MapName()] = std::move(failure);
                        }
                        log.End();
                      });
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
  ASSERT_EQ(outcomes.size(), 4u);
  for (const auto& [name, failure] : outcomes) {
    if (name == L"m2") {
      ASSERT_TRUE(failure);
      EXPECT_TRUE(failure->Is<EDownloadError>());
    } else {
      EXPECT_FALSE(failure) << failure->Message();
    }
  }
  for (const wchar_t* packed : {L"m1.zip", L"m3.zip", L"m4.zip"}) EXPECT_TRUE(Exists(folder.Map(packed))) << packed;
  EXPECT_FALSE(Exists(folder.Map(L"m2.zip")));
}
