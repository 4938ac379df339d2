#include "core/CCCompressedData.h"
#include "platform/Log.h"
#include "tests/support/TestSupport.h"

#include <zlib.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

namespace {

// Bytes that compress, but not to nothing.
Bytes sample(std::size_t size) {
    Bytes b(size);
    std::uint32_t x = 12345;
    for (std::size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = static_cast<unsigned char>((x >> 16) % 16 + 'a');
    }
    return b;
}

// windowBits 15 gives zlib, 31 gives gzip.
Bytes deflateBytes(const Bytes& in, int windowBits) {
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&s, in.size()) + 64);
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = static_cast<uInt>(in.size());
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

Bytes cczHeader(const char* magic, std::uint16_t compression, std::uint16_t version, std::uint32_t length) {
    Bytes h(magic, magic + 4);
    h.push_back(static_cast<unsigned char>(compression >> 8));
    h.push_back(static_cast<unsigned char>(compression));
    h.push_back(static_cast<unsigned char>(version >> 8));
    h.push_back(static_cast<unsigned char>(version));
    h.insert(h.end(), 4, 0);
    for (int shift = 24; shift >= 0; shift -= 8)
        h.push_back(static_cast<unsigned char>(length >> shift));
    return h;
}

Bytes ccz(const Bytes& content, std::uint32_t length, std::uint16_t version = 2,
          std::uint16_t compression = 0, const char* magic = "CCZ!") {
    Bytes out = cczHeader(magic, compression, version, length);
    Bytes stream = deflateBytes(content, 15);
    out.insert(out.end(), stream.begin(), stream.end());
    return out;
}

class TempFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("fl_compressed_" + std::to_string(getpid()) + "_" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir);
        platform::setLogSink([this](const std::string& line) { logged.push_back(line); });
    }
    void TearDown() override {
        platform::setLogSink({});
        fs::remove_all(dir);
    }
    std::string write(const std::string& name, const Bytes& bytes) {
        fs::path p = dir / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    fs::path dir;
    std::vector<std::string> logged;
};

// Runs one of the buffer-producing functions and keeps what it gave.
struct Result {
    int length;
    CCMallocPtr data;
    Bytes bytes() const { return data ? Bytes(data.get(), data.get() + length) : Bytes(); }
};
template <class F> Result run(F f) {
    unsigned char* out = reinterpret_cast<unsigned char*>(0x1); // must be overwritten
    int n = f(&out);
    return {n, CCMallocPtr(out)};
}

using FileDataTest = TempFiles;
using GZipFileTest = TempFiles;
using CCZTest = TempFiles;
using Base64Test = TempFiles;

} // namespace

TEST_F(FileDataTest, WholeFileIsReadOrMinusOne) {
    Bytes content = sample(300000);
    std::string path = write("a.bin", content);
    Result r = run([&](unsigned char** out) { return loadFileIntoMemory(path.c_str(), out); });
    EXPECT_EQ(r.length, 300000);
    EXPECT_EQ(r.bytes(), content);

    Result empty = run([&](unsigned char** out) { return loadFileIntoMemory(write("e", {}).c_str(), out); });
    EXPECT_EQ(empty.length, 0);
    EXPECT_EQ(empty.data, nullptr);
    for (std::string bad : {(dir / "missing").string(), dir.string()}) {
        Result r2 = run([&](unsigned char** out) { return loadFileIntoMemory(bad.c_str(), out); });
        EXPECT_EQ(r2.length, -1) << bad;
        EXPECT_EQ(r2.data, nullptr) << bad;
    }
    EXPECT_EQ(run([](unsigned char** out) { return loadFileIntoMemory(nullptr, out); }).length, -1);
    // Files that report no size are still read to their end.
    Result proc = run([](unsigned char** out) { return loadFileIntoMemory("/proc/self/status", out); });
    EXPECT_GT(proc.length, 0);
}

TEST(InflateMemoryTest, ZlibAndGzipGiveTheSameBytesAndOutgrowTheHint) {
    Bytes content = sample(1 << 20);
    Bytes zlibStream = deflateBytes(content, 15), gzipStream = deflateBytes(content, 31);
    Result z =
        run([&](unsigned char** out) { return inflateMemory(zlibStream.data(), zlibStream.size(), out); });
    Result g = run([&](unsigned char** out) {
        return inflateMemoryWithHint(gzipStream.data(), gzipStream.size(), out, 1);
    });
    EXPECT_EQ(z.length, 1 << 20);
    EXPECT_EQ(z.bytes(), content);
    EXPECT_EQ(g.bytes(), content);
    // A zero hint must not stall the doubling.
    Result h = run([&](unsigned char** out) {
        return inflateMemoryWithHint(zlibStream.data(), zlibStream.size(), out, 0);
    });
    EXPECT_EQ(h.bytes(), content);
}

TEST(InflateMemoryTest, DamagedStreamsFailWithNoBuffer) {
    Bytes content = sample(100000);
    Bytes stream = deflateBytes(content, 15);
    Bytes truncated(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(stream.size() / 2));
    Bytes corrupt = stream;
    corrupt[corrupt.size() / 2] ^= 0xFF;
    corrupt[corrupt.size() / 2 + 1] ^= 0x55;
    Bytes badChecksum = stream;
    badChecksum.back() ^= 1;
    Bytes headerOnly(stream.begin(), stream.begin() + 2);
    Bytes notCompressed = sample(100);
    for (const Bytes* in : {&truncated, &corrupt, &badChecksum, &headerOnly, &notCompressed}) {
        Result r = run([&](unsigned char** out) { return inflateMemory(in->data(), in->size(), out); });
        EXPECT_EQ(r.length, 0);
        EXPECT_EQ(r.data, nullptr);
    }
    EXPECT_EQ(run([](unsigned char** out) { return inflateMemory(nullptr, 10, out); }).length, 0);
    EXPECT_EQ(run([&](unsigned char** out) { return inflateMemory(stream.data(), 0, out); }).length, 0);
    Bytes emptyStream = deflateBytes({}, 15);
    Result empty =
        run([&](unsigned char** out) { return inflateMemory(emptyStream.data(), emptyStream.size(), out); });
    EXPECT_EQ(empty.length, 0);
    EXPECT_EQ(empty.data, nullptr);
}

TEST(InflateMemoryTest, OutputPastTheCapIsRefused) {
    // A small stream of zeros that inflates to just over the cap.
    Bytes zeros(1 << 20, 0);
    z_stream s{};
    ASSERT_EQ(deflateInit2(&s, 9, Z_DEFLATED, 15, 9, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes stream(1 << 20);
    s.next_out = stream.data();
    s.avail_out = static_cast<uInt>(stream.size());
    std::size_t rounds = kCCMaxDataSize / zeros.size() + 1;
    for (std::size_t i = 0; i < rounds; ++i) {
        s.next_in = zeros.data();
        s.avail_in = static_cast<uInt>(zeros.size());
        ASSERT_EQ(deflate(&s, i + 1 == rounds ? Z_FINISH : Z_NO_FLUSH),
                  i + 1 == rounds ? Z_STREAM_END : Z_OK);
    }
    stream.resize(s.total_out);
    deflateEnd(&s);
    Result r = run([&](unsigned char** out) { return inflateMemory(stream.data(), stream.size(), out); });
    EXPECT_EQ(r.length, 0);
    EXPECT_EQ(r.data, nullptr);
}

TEST_F(GZipFileTest, FilesAreInflatedAcrossTheGrowthSteps) {
    // 2.5 MB crosses the 512 KB, 1.5 MB and 3.5 MB buffer sizes.
    for (std::size_t size : {std::size_t(10), std::size_t(512 * 1024), std::size_t(2500000)}) {
        Bytes content = sample(size);
        std::string path = write("a.gz", deflateBytes(content, 31));
        Result r = run([&](unsigned char** out) { return inflateGZipFile(path.c_str(), out); });
        EXPECT_EQ(r.length, static_cast<int>(size));
        EXPECT_EQ(r.bytes(), content);
    }
    // A plain file reads as it is.
    Bytes plain = sample(1000);
    std::string path = write("plain", plain);
    EXPECT_EQ(run([&](unsigned char** out) { return inflateGZipFile(path.c_str(), out); }).bytes(), plain);
}

TEST_F(GZipFileTest, TruncatedCorruptAndMissingFilesFail) {
    Bytes stream = deflateBytes(sample(700000), 31);
    Bytes truncated(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(stream.size() - 100));
    Bytes badCrc = stream;
    badCrc[badCrc.size() - 6] ^= 0xFF;
    Bytes corrupt = stream;
    for (std::size_t i = 20; i < 60; ++i)
        corrupt[i] ^= 0xA5;
    for (auto [name, bytes] : {std::pair{"truncated.gz", &truncated}, std::pair{"crc.gz", &badCrc},
                               std::pair{"corrupt.gz", &corrupt}}) {
        std::string path = write(name, *bytes);
        Result r = run([&](unsigned char** out) { return inflateGZipFile(path.c_str(), out); });
        EXPECT_EQ(r.length, -1) << name;
        EXPECT_EQ(r.data, nullptr) << name;
    }
    EXPECT_EQ(
        run([&](unsigned char** out) { return inflateGZipFile((dir / "missing.gz").c_str(), out); }).length,
        -1);
}

TEST_F(CCZTest, ValidContainersInflateToTheHeaderLength) {
    Bytes content = sample(200000);
    for (std::uint16_t version : {0, 1, 2}) {
        std::string path = write("a.ccz", ccz(content, 200000, version));
        Result r = run([&](unsigned char** out) { return inflateCCZFile(path.c_str(), out); });
        EXPECT_EQ(r.length, 200000);
        EXPECT_EQ(r.bytes(), content);
    }
}

TEST_F(CCZTest, HeadersThatLieOrBreakARuleAreRefused) {
    Bytes content = sample(5000);
    Bytes good = ccz(content, 5000);
    Bytes corrupt = good;
    for (std::size_t i = 30; i < 40; ++i)
        corrupt[i] ^= 0x5A;
    const std::pair<const char*, Bytes> cases[] = {
        {"empty", {}},
        {"short", Bytes(good.begin(), good.begin() + 15)},
        {"header only", Bytes(good.begin(), good.begin() + 16)},
        {"magic", ccz(content, 5000, 2, 0, "CCZ?")},
        {"encrypted", ccz(content, 5000, 2, 0, "CCZp")},
        {"version 3", ccz(content, 5000, 3)},
        {"compression 1", ccz(content, 5000, 2, 1)},
        {"length zero", ccz(content, 0)},
        {"length huge", ccz(content, 0xFFFFFFFFu)},
        {"length past cap", ccz(content, static_cast<std::uint32_t>(kCCMaxDataSize + 1))},
        {"length short", ccz(content, 4999)},
        {"length long", ccz(content, 5001)},
        {"truncated stream", Bytes(good.begin(), good.end() - 10)},
        {"corrupt stream", corrupt},
    };
    for (const auto& [name, bytes] : cases) {
        std::string path = write("x.ccz", bytes);
        Result r = run([&](unsigned char** out) { return inflateCCZFile(path.c_str(), out); });
        EXPECT_EQ(r.length, -1) << name;
        EXPECT_EQ(r.data, nullptr) << name;
        Result m = run([&bytes = bytes](unsigned char** out) {
            return inflateCCZBuffer(bytes.data(), bytes.size(), out);
        });
        EXPECT_EQ(m.length, -1) << name;
    }
    EXPECT_EQ(run([&](unsigned char** out) { return inflateCCZFile((dir / "missing").c_str(), out); }).length,
              -1);
}

TEST_F(CCZTest, RealTexturesInflateAndEncryptedOnesAreRefused) {
    FL_REQUIRE_SHARED_TESTDATA();
    fs::path ccz = fltest::sharedTestData() / "pvr/ccz";
    Result normal =
        run([&](unsigned char** out) { return inflateCCZFile((ccz / "normal.pvr.ccz").c_str(), out); });
    ASSERT_EQ(normal.length, 1148132);
    EXPECT_EQ(std::memcmp(normal.data.get(), "PVR\x03", 4), 0);
    Result encrypted =
        run([&](unsigned char** out) { return inflateCCZFile((ccz / "protection.pvr.ccz").c_str(), out); });
    EXPECT_EQ(encrypted.length, -1);
    EXPECT_EQ(encrypted.data, nullptr);

    fs::path gz = fltest::sharedTestData() / "pvr/gz/bridgesprites.pvr.gz";
    Result pvr = run([&](unsigned char** out) { return inflateGZipFile(gz.c_str(), out); });
    EXPECT_EQ(pvr.length, 52 + 512 * 512 * 4);
    EXPECT_EQ(std::memcmp(pvr.data.get() + 44, "PVR!", 4), 0);
}

TEST_F(Base64Test, PaddingDecidesTheTail) {
    auto decode = [](const std::string& s) {
        Result r = run([&](unsigned char** out) {
            return base64Decode(reinterpret_cast<const unsigned char*>(s.data()), s.size(), out);
        });
        return std::string(
            r.data ? std::string(reinterpret_cast<char*>(r.data.get()), static_cast<std::size_t>(r.length))
                   : "");
    };
    EXPECT_EQ(decode("TWFu"), "Man");
    EXPECT_EQ(decode("TWE="), "Ma");
    EXPECT_EQ(decode("TQ=="), "M");
    EXPECT_EQ(decode("TW\nFu\r\n TWE=ignored"), "ManMa");
    EXPECT_EQ(decode("SGVsbG8sIHdvcmxkIQ=="), "Hello, world!");
    EXPECT_TRUE(logged.empty());

    EXPECT_EQ(decode("T==="), "");
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_EQ(logged[0], "base64Decode: encoding incomplete: at least 2 bits missing");
    EXPECT_EQ(logged[1], "Base64Utils: error decoding");
    // Leftover characters without padding are damage, not data.
    EXPECT_EQ(decode("TWFuTWE"), "");
    EXPECT_EQ(decode(""), "");
    EXPECT_EQ(decode("===="), "");
}

TEST(Base64CoreTest, NeverWritesPastTheGivenBuffer) {
    const unsigned char in[] = "TWFuTWFu";
    unsigned char out[8] = {};
    std::size_t length = 99;
    EXPECT_EQ(base64DecodeCore(in, 8, out, 5, &length), 1);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(base64DecodeCore(in, 8, out, 6, &length), 0);
    EXPECT_EQ(length, 6u);
    EXPECT_EQ(base64DecodeCore(in, 8, out, 6, nullptr), 1);
    EXPECT_EQ(base64DecodeCore(nullptr, 4, out, 6, &length), 1);
    const unsigned char padded[] = "TWE=";
    EXPECT_EQ(base64DecodeCore(padded, 4, out, 1, &length), 1);
}
