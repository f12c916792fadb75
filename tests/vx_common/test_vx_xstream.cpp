/* Memory read streams over caller bytes (vx_xbuffer, vx_xstream). */
#include <gtest/gtest.h>

#include <vector>

#include "vx_xbuffer.h"
#include "vx_xstream.h"

namespace {

const BYTE kTen[10] = {10, 11, 12, 13, 14, 15, 16, 17, 18, 19};

struct StreamTest : testing::Test {
  VxStream* stream = nullptr;
  void SetUp() override { ASSERT_EQ(vx_xstream_open_memory(&stream, kTen, 10), 0); }
  void TearDown() override { vx_xstream_close(stream); }
};

}  // namespace

TEST_F(StreamTest, SeeksAreClampedToTheData) {
  struct Step {
    LONG offset;
    int origin;
    LONG expected;
  };
  const Step steps[] = {
      {0, VX_SEEK_END, 10}, {-3, VX_SEEK_END, 7}, {2, VX_SEEK_CUR, 9},  {20, VX_SEEK_SET, 10},
      {-5, VX_SEEK_SET, 0}, {4, VX_SEEK_SET, 4},  {-9, VX_SEEK_CUR, 0}, {5, VX_SEEK_END, 10},
      {-20, VX_SEEK_END, 0}, {3, VX_SEEK_CUR, 3}, {0x7FFFFFFF, VX_SEEK_CUR, 10},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "seek " << s.offset << " from origin " << s.origin);
    EXPECT_EQ(vx_xstream_seek(stream, s.offset, s.origin), s.expected);
    EXPECT_EQ(vx_xstream_tell(stream), s.expected);
  }
}

TEST_F(StreamTest, ReadsComeBackShortAtTheEnd) {
  BYTE out[16];
  memset(out, 0xCC, sizeof out);
  EXPECT_EQ(vx_xstream_read(stream, out, 4), 4);
  EXPECT_EQ(out[0], 10);
  EXPECT_EQ(out[3], 13);
  EXPECT_EQ(out[4], 0xCC);
  EXPECT_EQ(vx_xstream_read(stream, out, 0), 0);
  EXPECT_EQ(vx_xstream_read(stream, out, -2), 0);
  EXPECT_EQ(vx_xstream_tell(stream), 4) << "a read of 0 bytes does not move";
  EXPECT_EQ(vx_xstream_getc(stream), 14);

  ASSERT_EQ(vx_xstream_seek(stream, 7, VX_SEEK_SET), 7);
  EXPECT_EQ(vx_xstream_read(stream, out, 8), 3);
  EXPECT_EQ(out[2], 19);
  EXPECT_EQ(vx_xstream_tell(stream), 10);
  EXPECT_EQ(vx_xstream_getc(stream), -1);
  EXPECT_EQ(vx_xstream_read(stream, out, 1), 0);

  /* After a seek back from the end, reading to the end works again. */
  ASSERT_EQ(vx_xstream_seek(stream, -2, VX_SEEK_END), 8);
  EXPECT_EQ(vx_xstream_getc(stream), 18);
  EXPECT_EQ(vx_xstream_read(stream, out, 5), 1);
  EXPECT_EQ(out[0], 19);
  EXPECT_EQ(vx_xstream_getc(stream), -1);
}

TEST(VxXstream, StreamsHoldTheirBufferAndLeaveTheBytesToTheCaller) {
  std::vector<BYTE> bytes(kTen, kTen + 10);
  VxBuffer* buffer = nullptr;
  ASSERT_EQ(vx_xbuffer_open_memory(&buffer, bytes.data(), 10), 0);
  EXPECT_EQ(buffer->refs, 1);
  EXPECT_EQ(buffer->owned, 0);
  EXPECT_EQ(buffer->base, bytes.data());
  EXPECT_EQ(buffer->end, bytes.data() + 10);
  EXPECT_EQ(buffer->eof, 0);

  VxStream* a = nullptr;
  VxStream* b = nullptr;
  ASSERT_EQ(vx_xstream_open(&a, buffer, VX_XSTREAM_READ), 0);
  ASSERT_EQ(vx_xstream_open(&b, buffer, VX_XSTREAM_READ), 0);
  EXPECT_EQ(buffer->refs, 3);
  EXPECT_EQ(buffer->eof, 1) << "a memory read stream has nothing to refill from";
  EXPECT_EQ(a->kind, VX_XSTREAM_MEMORY);
  EXPECT_EQ(a->refs, 1);
  vx_xbuffer_release(buffer);
  EXPECT_EQ(buffer->refs, 2);
  vx_xstream_close(a);
  EXPECT_EQ(buffer->refs, 1);
  EXPECT_EQ(vx_xstream_getc(b), 10);
  vx_xstream_close(b); /* the last reference: the buffer object goes, the bytes stay */
  EXPECT_EQ(bytes, std::vector<BYTE>(kTen, kTen + 10));

  VxStream* empty = nullptr;
  ASSERT_EQ(vx_xstream_open_memory(&empty, nullptr, 0), 0);
  EXPECT_EQ(vx_xstream_getc(empty), -1);
  EXPECT_EQ(vx_xstream_seek(empty, 5, VX_SEEK_SET), 0);
  vx_xstream_close(empty);
  VxStream* bad = reinterpret_cast<VxStream*>(1);
  EXPECT_EQ(vx_xstream_open_memory(&bad, kTen, -1), -1);
  EXPECT_EQ(bad, nullptr);
}

TEST(VxXstream, AStreamInErrorStateRefusesReadTellAndSeek) {
  VxStream* s = nullptr;
  ASSERT_EQ(vx_openrmemory(&s, kTen, 10), 0);
  s->error = 1;
  BYTE out[4];
  EXPECT_EQ(vx_xstream_read(s, out, 4), -1);
  EXPECT_EQ(vx_xstream_tell(s), -1);
  EXPECT_EQ(vx_xstream_seek(s, 0, VX_SEEK_SET), -1);
  EXPECT_EQ(vx_xstream_fill(s), -1);
  vx_xstream_close(s);
}
