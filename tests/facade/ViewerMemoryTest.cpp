// Memory over many documents in one control: the demo's document loaded 200 times, then
// 200 stamp documents. What the process holds after the last call stays within 5 MB of what
// it held after the twentieth (resident memory, and the heap in use), so replaced
// documents and the images nothing shows any more are freed.
#include "tests/facade/ViewerHarness.h"

#include <malloc.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's count of bytes the program holds (its header is not always
// installed).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

using namespace viewertest;

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Usage {
    long long resident = 0; // bytes
    long long heap = 0;     // bytes in use
};

Usage usage()
{
    Usage u;
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    u.resident = (long long)resident * sysconf(_SC_PAGESIZE);
#if defined(__SANITIZE_ADDRESS__)
    u.heap = (long long)__sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 m = mallinfo2();
    u.heap = (long long)(m.uordblks + m.hblkhd);
#endif
    return u;
}

// The demo's document with its images on a loopback port nothing listens on: every open
// fails at once, as a page that keeps replacing documents would leave them.
std::string demoDocument()
{
    std::string text = slurp(ORBEL_SOURCE_DIR "/demo/BasePssi.xml");
    const std::string open = "<ObjectFile>", close = "</ObjectFile>";
    for (size_t at = text.find(open); at != std::string::npos; at = text.find(open, at + 1))
        text.insert(at + open.size(), "http://127.0.0.1:1/jpip/");
    return text;
}

class ViewerMemory : public ViewerTest {};

} // namespace

TEST_F(ViewerMemory, StaysFlatOverManyDocumentsAndStamps)
{
    const std::string pssi = demoDocument();
    ASSERT_NE(pssi.find("<ObjectFile>http://127.0.0.1:1/jpip/"), std::string::npos);
    std::string stamp = "<root><stamps>";
    for (int i = 0; i < 4; ++i)
        stamp += "<item name=\"S" + std::to_string(i) + "\" data=\"" + std::string(4096, 'A') + "\"/>";
    stamp += "</stamps></root>";
    ASSERT_EQ(init(slurp(ORBEL_SOURCE_DIR "/demo/Config.xml")), S_OK);
    ASSERT_EQ(control->SetAnnotationServerAddress(bstr("http://127.0.0.1:1/annotation").get()), S_OK);
    Usage twentieth, last;
    for (int i = 1; i <= 200; ++i) {
        ASSERT_EQ(loadData(pssi), S_OK) << i;
        platform::PumpPending();
        if (i == 20)
            twentieth = usage();
    }
    for (int i = 1; i <= 200; ++i) {
        ASSERT_EQ(control->ConfigStamp(bstr(stamp).get()), S_OK) << i;
        platform::PumpPending();
    }
    last = usage();
    const long long limit = 5ll << 20;
    RecordProperty("resident_growth_kb", int((last.resident - twentieth.resident) / 1024));
    RecordProperty("heap_growth_kb", int((last.heap - twentieth.heap) / 1024));
    std::printf("resident %lld KB -> %lld KB, heap %lld KB -> %lld KB\n", twentieth.resident / 1024,
                last.resident / 1024, twentieth.heap / 1024, last.heap / 1024);
    EXPECT_LT(last.heap - twentieth.heap, limit);
#if !defined(__SANITIZE_ADDRESS__)
    // A sanitizer holds freed memory back in its quarantine: only the heap counts there.
    EXPECT_LT(last.resident - twentieth.resident, limit);
#endif
}
