// The loader on broken input: files it must refuse with a clear reason, damage
// inside tracks it must survive, and the real files of the shared corpus.
#include "loader.h"
#include "midibytes.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace midibytes;
using Lines = std::vector<std::string>;

namespace {

bool contains(const std::vector<std::string>& warnings, const std::string& part)
{
    for (const std::string& warning : warnings) {
        if (warning.find(part) != std::string::npos)
            return true;
    }
    return false;
}

const Bytes kSecondTrack = track(cat({{0x00, 0x91, 0x30, 0x30}, endOfTrack(96)}));

} // namespace

TEST(MusicDamage, RefusesWhatIsNoMidiFileWithAReason)
{
    struct Case
    {
        const char* what;
        Bytes file;
        music::Error error;
        const char* reason;
    };
    const Bytes goodTrack = track(endOfTrack());
    const Case cases[] = {
        {"empty", {}, music::Error::NotMidi, "empty"},
        {"text", text("hello, world"), music::Error::NotMidi, "not a MIDI file"},
        {"MIDI 2.0 clip", text("SMF2CLIP\x00\x00"), music::Error::NotMidi, "MIDI 2.0"},
        {"header cut short", text("MThd\x00\x00"), music::Error::InvalidHeader, "cut short"},
        {"header length 5", cat({text("MThd"), big32(5), {0, 0, 0, 1, 0, 96, 0}, goodTrack}),
         music::Error::InvalidHeader, "header length 5 is below 6"},
        {"format 3", cat({header(3, 1, 96), goodTrack}), music::Error::InvalidHeader,
         "unknown format 3"},
        {"division 0", cat({header(0, 1, 0), goodTrack}), music::Error::InvalidHeader,
         "division is 0"},
        {"SMPTE 16 fps", cat({header(0, 1, 0xF028), goodTrack}), music::Error::InvalidHeader,
         "16 frames per second"},
        {"SMPTE 0 ticks", cat({header(0, 1, 0xE700), goodTrack}), music::Error::InvalidHeader,
         "0 ticks per frame"},
        {"no track", header(0, 1, 96), music::Error::NoTracks, "no track chunk"},
        {"only other chunks", cat({header(0, 1, 96), text("XFIH"), big32(2), {1, 2}}),
         music::Error::NoTracks, "no track chunk"},
        {"header hides the track", cat({text("MThd"), big32(22), {0, 0, 0, 1, 0, 96}, goodTrack}),
         music::Error::NoTracks, "header length 22"},
    };
    for (const Case& c : cases) {
        const music::LoadResult result = load(c.file);
        EXPECT_FALSE(result) << c.what;
        EXPECT_EQ(result.code(), music::Result::Failed) << c.what;
        EXPECT_EQ(result.error(), c.error) << c.what << ": " << result.reason();
        EXPECT_NE(result.reason().find(c.reason), std::string::npos)
            << c.what << ": " << result.reason();
        EXPECT_EQ(result.reason().find('\n'), std::string::npos) << c.what;
    }
}

namespace {

// Runs `check` in a child process whose address space may grow by 256 MiB at
// most, so that reading a huge file shows as a failure, not as a slow test.
// The alarm only guards against a hang (a FIFO that waits for a writer).
::testing::AssertionResult inSmallChild(const std::function<bool()>& check)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return ::testing::AssertionFailure() << "fork failed";
    if (pid == 0) {
        ::alarm(60);
        long pages = 0;
        if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
            if (std::fscanf(statm, "%ld", &pages) != 1)
                pages = 0;
            std::fclose(statm);
        }
        const rlim_t limit =
            static_cast<rlim_t>(pages) * static_cast<rlim_t>(::getpagesize()) + (rlim_t{256} << 20);
        const rlimit room{limit, limit};
        if (pages == 0 || ::setrlimit(RLIMIT_AS, &room) != 0)
            ::_exit(3);
        ::_exit(check() ? 0 : 1);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid)
        return ::testing::AssertionFailure() << "waitpid failed";
    if (WIFSIGNALED(status))
        return ::testing::AssertionFailure() << "killed by signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) != 0)
        return ::testing::AssertionFailure() << "check failed (" << WEXITSTATUS(status) << ")";
    return ::testing::AssertionSuccess();
}

bool refusedAs(const std::string& path, music::Error error, const std::string& reason)
{
    const music::LoadResult result = music::loadFile(path);
    if (!result && result.error() == error && result.reason() == reason)
        return true;
    std::fprintf(stderr, "%s: %s\n", path.c_str(),
                 result ? "loaded" : std::string(result.reason()).c_str());
    return false;
}

} // namespace

TEST(MusicDamage, LooksAtWhatAPathNamesBeforeReadingIt)
{
    char base[] = "/tmp/brisolde-paths-XXXXXX";
    ASSERT_NE(::mkdtemp(base), nullptr);
    const std::string dir = base;
    const auto make = [&dir](const char* name) {
        return dir + "/" + name;
    };

    const std::string fifo = make("x.mid");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = make("zero.mid");
    ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
    const std::string folder = make("folder.mid");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    const std::string socketPath = make("socket.mid");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    // A link to a piece loads as the piece.
    const Bytes piece = cat({header(0, 1, 96), track(endOfTrack(96))});
    const std::string real = make("real.mid");
    std::ofstream(real, std::ios::binary)
        .write(reinterpret_cast<const char*>(piece.data()), std::streamsize(piece.size()));
    const std::string link = make("link.mid");
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    // Sparse files of exactly the limit and one byte more: refused by their size.
    const auto sparse = [&make](const char* name, off_t size) {
        const std::string path = make(name);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const bool made = fd >= 0 && ::ftruncate(fd, size) == 0;
        if (fd >= 0)
            ::close(fd);
        return made ? path : std::string();
    };
    const std::string limit = sparse("limit.mid", off_t{1} << 31);
    const std::string over = sparse("over.mid", (off_t{1} << 31) + 1);
    ASSERT_FALSE(limit.empty());
    ASSERT_FALSE(over.empty());

    using music::Error;
    EXPECT_TRUE(inSmallChild(
        [&] { return refusedAs(fifo, Error::NotAFile, "a named pipe (FIFO), not a file"); }));
    EXPECT_TRUE(
        inSmallChild([&] { return refusedAs(zero, Error::NotAFile, "a device, not a file"); }));
    EXPECT_TRUE(
        inSmallChild([&] { return refusedAs(folder, Error::NotAFile, "a folder, not a file"); }));
    EXPECT_TRUE(inSmallChild(
        [&] { return refusedAs(socketPath, Error::NotAFile, "a socket, not a file"); }));
    EXPECT_TRUE(inSmallChild([&] {
        return refusedAs(limit, Error::TooLarge,
                         "the file holds 2147483648 bytes; a MIDI file must be smaller than 2 GiB "
                         "(2147483648 bytes)");
    }));
    EXPECT_TRUE(inSmallChild([&] {
        return refusedAs(over, Error::TooLarge,
                         "the file holds 2147483649 bytes; a MIDI file must be smaller than 2 GiB "
                         "(2147483648 bytes)");
    }));
    const music::LoadResult linked = music::loadFile(link);
    ASSERT_TRUE(linked) << linked.reason();
    EXPECT_EQ(linked.value()->length(), 768);

    ::close(listener);
    std::filesystem::remove_all(dir);
}

TEST(MusicDamage, KeepsEverythingBeforeDamageAndGoesOnWithTheNextTrack)
{
    struct Case
    {
        const char* what;
        Bytes firstTrack;
        Lines firstTrackEvents;
        const char* warning;
    };
    const Case cases[] = {
        {"truncated event",
         track({0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C}),
         {"0 0 0 90 3C 40"},
         "cut off"},
        {"data byte without running status",
         track({0x00, 0xFF, 0x01, 0x00, 0x60, 0x3C, 0x40}),
         {"0 0 0 FF 01"},
         "data byte 3C with no running status"},
        {"variable-length number of 5 bytes",
         track(cat(
             {{0x00, 0x90, 0x3C, 0x40, 0x81, 0x81, 0x81, 0x81, 0x01, 0x3C, 0x00}, endOfTrack()})),
         {"0 0 0 90 3C 40"},
         "longer than 4 bytes"},
        {"status byte inside a message",
         track({0x00, 0x90, 0x3C, 0x60, 0x00, 0x90, 0x80, 0x40}),
         {"0 0 0 90 3C 60"},
         "status byte inside"},
        {"meta length past the chunk",
         track(cat({{0x00, 0xC0, 0x01, 0x00, 0xFF, 0x01, 0x20}})),
         {"0 0 0 C0 01"},
         "cut off"},
        {"missing end of track",
         track({0x00, 0x90, 0x3C, 0x40, 0x60, 0x80, 0x3C, 0x00}),
         {"0 0 0 90 3C 40", "768 500000 0 80 3C 00"},
         "no end-of-track"},
        {"undefined status byte",
         track(cat({{0x00, 0xC0, 0x01, 0x00, 0xF4}, endOfTrack()})),
         {"0 0 0 C0 01"},
         "undefined status byte F4"},
        {"system messages are skipped",
         track(cat({{0x00, 0xF1, 0x10, 0x00, 0xF2, 0x01, 0x02, 0x00, 0xF8, 0x00, 0xC0, 0x01},
                    endOfTrack()})),
         {"0 0 0 C0 01", "0 0 0 FF 2F"},
         "system message F2 is not allowed"},
        {"bytes after the end of track",
         cat({track(cat({endOfTrack(), {0x00, 0x90, 0x3C, 0x40}}))}),
         {"0 0 0 FF 2F"},
         "4 bytes after the end of track"},
        {"time beyond music time",
         track(cat(
             {{0x00, 0xC0, 0x01}, varLen(2796202), {0xC0, 0x02, 0x01, 0xC0, 0x03}, endOfTrack()})),
         {"0 0 0 C0 01", "2147483136 1398101000000 0 C0 02"},
         "beyond the range of music time"},
    };
    for (const Case& c : cases) {
        // Division 1 makes one tick 768 music ticks, to reach the end of music time.
        const std::uint16_t division = std::string(c.what) == "time beyond music time" ? 1 : 96;
        const music::LoadResult result =
            load(cat({header(1, 2, division), c.firstTrack,
                      division == 1 ? track(endOfTrack()) : kSecondTrack}));
        ASSERT_TRUE(result) << c.what << ": " << result.reason();
        Lines first;
        const music::Segment& segment = *result.value();
        const Lines all = lines(segment);
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (segment.track(segment.events()[i]) == 0)
                first.push_back(all[i]);
        }
        EXPECT_EQ(first, c.firstTrackEvents) << c.what;
        EXPECT_EQ(result.value()->trackCount(), 2) << c.what;
        EXPECT_TRUE(contains(result.value()->warnings(), c.warning))
            << c.what << ": "
            << (result.value()->warnings().empty() ? "no warning" : result.value()->warnings()[0]);
    }
}

TEST(MusicDamage, SurvivesBrokenChunkStructure)
{
    const Bytes good = track(cat({{0x00, 0x90, 0x3C, 0x40}, endOfTrack(96)}));
    // A chunk whose length runs past the end of the file: what is there is read.
    Bytes longChunk = cat({header(0, 1, 96),
                           text("MTrk"),
                           big32(0x01000000),
                           {0x00, 0x90, 0x3C, 0x40},
                           endOfTrack(96)});
    music::LoadResult result = load(longChunk);
    ASSERT_TRUE(result);
    EXPECT_EQ(lines(*result.value()), (Lines{"0 0 0 90 3C 40", "768 500000 0 FF 2F"}));
    EXPECT_TRUE(contains(result.value()->warnings(), "declares 16777216 bytes"));

    // A track length too short leaves garbage where the next chunk should be;
    // the next track chunk is found again.
    Bytes shortChunk = cat({header(1, 2, 96),
                            text("MTrk"),
                            big32(4),
                            {0x00, 0x90, 0x3C, 0x40},
                            {0x60, 0x80, 0x3C, 0x00},
                            endOfTrack(),
                            kSecondTrack});
    result = load(shortChunk);
    ASSERT_TRUE(result);
    EXPECT_EQ(result.value()->trackCount(), 2);
    EXPECT_EQ(lines(*result.value()),
              (Lines{"0 0 0 90 3C 40", "0 0 1 91 30 30", "768 500000 1 FF 2F"}));
    EXPECT_TRUE(contains(result.value()->warnings(), "are no chunk; skipped"));

    // Unknown chunks are skipped, stray bytes at the end noted, a wrong track
    // count in the header noted.
    result = load(cat({header(1, 3, 96), text("Junk"), big32(3), {1, 2, 3}, good, {0x00, 0x00}}));
    ASSERT_TRUE(result);
    EXPECT_EQ(result.value()->trackCount(), 1);
    EXPECT_TRUE(contains(result.value()->warnings(), "2 stray bytes"));
    EXPECT_TRUE(contains(result.value()->warnings(), "declares 3 tracks, the file holds 1"));

    // A format 0 file with two tracks plays both.
    result = load(cat({header(0, 2, 96), good, kSecondTrack}));
    ASSERT_TRUE(result);
    EXPECT_EQ(result.value()->events().size(), 4u);
    EXPECT_TRUE(contains(result.value()->warnings(), "format 0 file with 2 tracks"));
}

TEST(MusicDamage, BoundsTracksWarningsAndMemoryByTheDataPresent)
{
    // More track chunks than a segment can number.
    Bytes many = header(1, 0xFFFF, 96);
    const Bytes empty = track(endOfTrack());
    many.reserve(many.size() + 65537 * empty.size());
    for (int i = 0; i < 65537; ++i)
        many.insert(many.end(), empty.begin(), empty.end());
    music::LoadResult result = load(many);
    ASSERT_TRUE(result);
    EXPECT_EQ(result.value()->trackCount(), 65535);
    EXPECT_TRUE(contains(result.value()->warnings(), "more than 65535 track chunks"));

    // Thousands of problems: the warnings stop growing, the count says how many.
    Bytes noisy;
    for (int i = 0; i < 5000; ++i)
        noisy.insert(noisy.end(), {0x00, 0xF6});
    result = load(cat({header(0, 1, 96), track(cat({noisy, endOfTrack()}))}));
    ASSERT_TRUE(result);
    const std::vector<std::string>& warnings = result.value()->warnings();
    ASSERT_EQ(warnings.size(), 101u);
    EXPECT_EQ(warnings.back(), "and 4900 more warnings");

    // Declared lengths far beyond the data allocate nothing for them.
    result = load(cat({header(0, 1, 96),
                       text("MTrk"),
                       big32(0xFFFFFFFF),
                       {0x00, 0xFF, 0x01, 0x8F, 0xFF, 0xFF, 0x7F, 0x41}}));
    ASSERT_TRUE(result);
    EXPECT_LT(result.value()->memoryUsage(), 4096u);
    result = load(cat({header(0, 1, 96), track({0x00, 0xF0, 0x8F, 0xFF, 0xFF, 0x7F, 0x01})}));
    ASSERT_TRUE(result);
    EXPECT_LT(result.value()->memoryUsage(), 4096u);
}

TEST(MusicDamage, EveryCutAndEveryChangedByteOfAFileLoadsOrFailsCleanly)
{
    const Bytes file =
        cat({header(1, 2, 96),
             track(cat({tempo(0, 400000),
                        meta(0, 0x03, text("name")),
                        {0x00, 0xF0, 0x03, 0x43, 0x12, 0x00, 0x10, 0xF7, 0x02, 0x07, 0xF7},
                        {0x00, 0x90, 0x3C, 0x40, 0x83, 0x60, 0x3C, 0x00, 0x00, 0xC0, 0x05},
                        meta(0, 0x58, {4, 2, 24, 8}),
                        endOfTrack(10)})),
             kSecondTrack});
    const auto check = [](const Bytes& bytes) {
        const music::LoadResult result = load(bytes);
        if (!result)
            return !result.reason().empty() && result.error() != music::Error::None;
        // Every event comes from at least two bytes of the file.
        return result.value()->events().size() <= bytes.size() / 2 &&
               std::is_sorted(result.value()->events().begin(), result.value()->events().end(),
                              [](const music::Event& a, const music::Event& b) {
                                  return a.time() < b.time();
                              });
    };
    for (std::size_t size = 0; size <= file.size(); ++size)
        ASSERT_TRUE(check(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size))))
            << size;
    for (std::size_t at = 0; at < file.size(); ++at) {
        for (std::uint8_t value : Bytes{0x00, 0x7F, 0x80, 0xF7, 0xFF}) {
            Bytes changed = file;
            changed[at] = value;
            ASSERT_TRUE(check(changed)) << at << " = " << int(value);
        }
    }
}

#ifdef BRISOLDE_CORPUS_DIR
TEST(MusicCorpus, LoadsTheSharedFilesAndRefusesTheBrokenOnes)
{
    namespace fs = std::filesystem;
    const fs::path root(BRISOLDE_CORPUS_DIR);
    if (!fs::is_directory(root))
        GTEST_SKIP() << "no corpus at " << root;
    // Files that are no usable MIDI file at all, and why.
    const std::map<std::string, music::Error> refused = {
        {"test-empty-file.mid", music::Error::NotMidi},
        {"test-not-a-midi-file.mid", music::Error::NotMidi},
        {"MIDIBadHeaderChunk.mid", music::Error::NotMidi},
        {"MIDIBadHeaderFormat.mid", music::Error::InvalidHeader},
        {"MIDIBadHeaderSMTPE.mid", music::Error::InvalidHeader},
        {"MIDIBadHeaderLength.mid", music::Error::NoTracks},
        {"MIDIBadTrackHdr.mid", music::Error::NoTracks},
        // A header and nothing else: there is nothing to play.
        {"header-type-00-single.mid", music::Error::NoTracks},
        {"header-type-01-multi-track.mid", music::Error::NoTracks},
        {"header-type-02-multi-song.mid", music::Error::NoTracks},
    };
    // Damaged files that still play, with a warning.
    const std::set<std::string> warned = {
        "test-corrupt-file-extra-byte.mid", "test-corrupt-file-missing-byte.mid",
        "test-2-tracks-type-0.mid",         "MIDIBadHeaderTracksNum.mid",
        "MIDIBadTrackLength.mid",           "negative_delta.mid",
    };
    int loaded = 0;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        const std::string extension = entry.path().extension().string();
        if (!entry.is_regular_file() ||
            (extension != ".mid" && extension != ".midi2" && extension != ".rmi"))
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const music::LoadResult result = load(bytes);
        if (extension == ".midi2") { // MIDI 2.0 clips are no Standard MIDI Files
            EXPECT_EQ(result.error(), music::Error::NotMidi) << name;
            continue;
        }
        if (auto it = refused.find(name); it != refused.end()) {
            EXPECT_FALSE(result) << name;
            EXPECT_EQ(result.error(), it->second) << name << ": " << result.reason();
            continue;
        }
        ASSERT_TRUE(result) << entry.path() << ": " << result.reason();
        ++loaded;
        const bool systemMessages = name.rfind("test-illegal-message-", 0) == 0 ||
                                    (entry.path().parent_path().filename() == "system-common" &&
                                     name.rfind("0xF0", 0) != 0 && name.rfind("0xF7", 0) != 0);
        if (warned.count(name) || systemMessages) {
            EXPECT_FALSE(result.value()->warnings().empty()) << name;
        } else {
            EXPECT_TRUE(result.value()->warnings().empty())
                << name << ": " << result.value()->warnings()[0];
        }
    }
    EXPECT_GT(loaded, 400);
}
#endif
