#include <gtest/gtest.h>

#include <thread>

#include "stream/StatusStore.h"

using namespace hylo;

TEST(StatusStore, OrientationIsTakenOnce) {
  StatusStore store;
  store.SetOrientation({1, 2, 3, 4, 5, 6});
  EXPECT_TRUE(store.Copy(true).orientationNew);
  EXPECT_FALSE(store.Copy(true).orientationNew);
  EXPECT_EQ(store.Copy().orientation[5], 6);
}

TEST(StatusStore, ConcurrentWritersAndTheCopyingReaderStayConsistent) {
  StatusStore store;
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i) {
      store.SetTemperature(i % 500);
      store.SetHumidity(i % 700);
    }
  });
  for (int i = 0; i < 20000; ++i) {
    const StatusValues v = store.Copy();
    ASSERT_GE(v.temperature, 0);
    ASSERT_LT(v.temperature, 500);
  }
  writer.join();
  EXPECT_EQ(store.GetTemperature(), 19999 % 500);
  EXPECT_EQ(store.GetHumidity(), 19999 % 700);
}
