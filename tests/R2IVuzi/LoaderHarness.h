// Live runs of the JPIP client against the loopback server: a top-level frame window, a
// sub-frame and a grid whose start handler opens the image and posts the model update
// and whose error handler can post a retry. The test thread is the user-interface
// thread; it pumps messages until a condition holds, never sleeping.
#pragma once

#include "R2IVuzi/J2KAbortRequest.h"
#include "R2IVuzi/J2KCommenceRequest.h"
#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KImage.h"
#include "R2IVuzi/J2KImageLoader.h"
#include "R2IVuzi/J2KImageLoaderMgr.h"
#include "R2IVuzi/J2KKillImageLoaderRequest.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "R2IVuzi/J2KUpdateServerModelRequest.h"
#include "R2IVuzi/StartupValues.h"
#include "codec/core/rvd_message.h"
#include "codec/core/rvd_codestream.h"
#include "platform/ModuleStartup.h"
#include "tests/R2IVuzi/RegionRender.h"
#include "tests/R2IVuzi/support/GridChecks.h"
#include "tests/support/JpipTestServer.h"
#include "tests/support/TestTools.h"
#include "tools/decode/pgx_image.h"

#include <boost/regex.hpp>
#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace harness {

// A temporary folder removed when the test program ends.
struct ProgramFolder {
    std::string path; // empty when it could not be made
    ProgramFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orbel-channel-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            path = pattern;
    }
    ~ProgramFolder()
    {
        std::error_code ignored;
        if (!path.empty())
            std::filesystem::remove_all(path, ignored);
    }
    ProgramFolder(const ProgramFolder&) = delete;
    ProgramFolder& operator=(const ProgramFolder&) = delete;
};

// The corpus of channel_fixture.py, made once per test program (empty when it failed).
inline const std::string& fixtureDir()
{
    static const ProgramFolder folder;
    static const std::string dir = [] {
        if (folder.path.empty())
            return std::string();
        const std::string cmd =
            OrbelTest::pythonCommand(std::string(ORBEL_SOURCE_DIR) + "/tests/R2IVuzi/channel_fixture.py") + " '" +
            folder.path + "'";
        if (std::system(cmd.c_str()) != 0)
            return std::string();
        // As the control does: codec errors become CJ2KException.
        if (StartupRegistry::global().load())
            rvd_customize_errors(&GetCodecErrorFormatter());
        return folder.path;
    }();
    return dir;
}

using gridtest::slurp;

// One request record of the server's log.
struct ServerRecord {
    std::string kind, target, cid, line;
    int status = 0;
    int eor = -1;
    // Whether a fault switch hit it, and when it was written (monotonic seconds).
    bool faulted = false;
    double time = 0;
    // cache class, codestream, bin id, offset, length, final
    std::vector<std::array<long long, 6>> bins;
};

inline std::vector<ServerRecord> records(const OrbelTest::JpipTestServer& server)
{
    static const boost::regex kind("\"kind\": \"(\\w+)\""), target("\"target\": \"([^\"]*)\""),
        status("\"status\": (\\d+)"), eor("\"eor\": (\\d+)"), cid("\"cid\": \"([^\"]*)\""),
        bins("\"bins\": \\[((?:\\[[^\\]]*\\](?:, )?)*)\\]"),
        bin("\\[(\\d+), (\\d+), (\\d+), (\\d+), (\\d+), (true|false)\\]"),
        faults("\"faults\": \\[([^\\]]*)\\]"), time("\"time\": ([0-9.eE+-]+)");
    std::vector<ServerRecord> out;
    for (const std::string& line : server.logLines()) {
        ServerRecord r;
        r.line = line;
        boost::smatch m;
        if (boost::regex_search(line, m, kind))
            r.kind = m[1];
        if (boost::regex_search(line, m, target))
            r.target = m[1];
        if (boost::regex_search(line, m, status))
            r.status = std::stoi(m[1]);
        if (boost::regex_search(line, m, eor))
            r.eor = std::stoi(m[1]);
        if (boost::regex_search(line, m, cid))
            r.cid = m[1];
        if (boost::regex_search(line, m, faults))
            r.faulted = m[1].length() > 0;
        if (boost::regex_search(line, m, time))
            r.time = std::stod(m[1]);
        if (boost::regex_search(line, m, bins)) {
            const std::string list = m[1];
            for (boost::sregex_iterator it(list.begin(), list.end(), bin), end; it != end; ++it)
                r.bins.push_back({std::stoll((*it)[1]) / 2, std::stoll((*it)[2]), std::stoll((*it)[3]),
                                  std::stoll((*it)[4]), std::stoll((*it)[5]), (*it)[6] == "true" ? 1 : 0});
        }
        out.push_back(r);
    }
    return out;
}

inline size_t countKind(const OrbelTest::JpipTestServer& server, const std::string& kind)
{
    size_t n = 0;
    for (const ServerRecord& r : records(server))
        n += r.kind == kind;
    return n;
}

// (cache class, bin id) -> (contiguous length, complete), codestream 0.
typedef std::map<std::pair<int, long long>, std::pair<int, bool>> CacheSnapshot;

inline CacheSnapshot snapshot(rvd_cache& cache)
{
    CacheSnapshot s;
    for (int cls = 0; cls < 5; ++cls)
        for (int64_t id = cache.get_next_databin_oldest_first(cls, 0, -1, false); id >= 0;
             id = cache.get_next_databin_oldest_first(cls, 0, id, false)) {
            bool complete = false;
            const int length = cache.get_databin_length(cls, 0, id, &complete);
            s[{cls, id}] = {length, complete};
        }
    return s;
}

struct ErrorRecord {
    int kind;
    std::string message;
    int line;
};

class TestGrid : public CJ2KGrid {
public:
    using CJ2KGrid::CJ2KGrid;

    int level = 0;
    bool retryOnError = false;
    std::function<void(TestGrid&)> onFirstRenderTimer;

    int renderTimers = 0, starts = 0, loaderReady = 0;
    std::vector<std::array<int, 5>> arrivals;
    std::vector<ErrorRecord> errors;
    std::vector<std::string> models;
    CacheSnapshot atError;

    boost::shared_ptr<CJ2KGrid> self() { return shared_from_this(); }
    bool delivered() const
    {
        for (const auto& a : arrivals)
            if (a[0] >= 0)
                return true;
        return false;
    }

protected:
    LRESULT OnStartProcess(const std::string& target) override
    {
        if (!isCurrentTarget(target) || !m_image)
            return 0;
        ++starts;
        if (!m_image->getInputSource())
            m_image->openSource(m_image->getCache());
        if (!m_image->getCodestream()->exists())
            m_image->openCodestream();
        int w = 0, h = 0;
        m_image->getFrameSize(level, w, h);
        const int32_t window[5] = {level, 0, 0, w - 1, h - 1};
        std::string model;
        m_image->buildCacheModelUpdateString(model);
        models.push_back(model);
        m_loader.load()->postRequest(boost::shared_ptr<CJ2KRequest>(
            new CJ2KUpdateServerModelRequest(shared_from_this(), m_image, window, model)));
        return 0;
    }
    LRESULT OnError(int kind, std::unique_ptr<CJ2KException> error) override
    {
        errors.push_back({kind, error ? error->what() : "", error ? error->getLine() : 0});
        atError = snapshot(*m_image->getCache());
        if (retryOnError)
            m_loader.load()->postRequest(
                boost::shared_ptr<CJ2KRequest>(new CJ2KCommenceRequest(shared_from_this(), m_image, true)));
        return 0;
    }
    LRESULT OnDataArrived(const std::string& target, const int region[5]) override
    {
        if (isCurrentTarget(target))
            arrivals.push_back({region[0], region[1], region[2], region[3], region[4]});
        return 0;
    }
    LRESULT OnStartRenderTimer(const std::string& target) override
    {
        CJ2KGrid::OnStartRenderTimer(target);
        if (isCurrentTarget(target) && renderTimers++ == 0 && onFirstRenderTimer)
            onFirstRenderTimer(*this);
        return 0;
    }
    LRESULT OnLoaderReady(const std::string& target) override
    {
        CJ2KGrid::OnLoaderReady(target);
        loaderReady += isCurrentTarget(target);
        return 0;
    }
};

// A frame window with one grid showing name_1.jp2 from the server.
class Harness {
public:
    Harness(const std::string& target, int level = 0)
    {
        frame.reset(new CJ2KFrame(nullptr));
        const RECT rect = {0, 0, 256, 256};
        frame->Create(nullptr, rect, WS_OVERLAPPED | WS_VISIBLE);
        subFrame.reset(new CJ2KSubFrame(frame, 0, 0));
        grid.reset(new TestGrid(subFrame, 0, 0));
        grid->CreateGridWindow(frame->m_hWnd, rect);
        grid->level = level;
        grid->setTarget(target);
        image.reset(new CJ2KImage(target, "1.2.3", nullptr));
        grid->setImage(image);
        loader = new CJ2KImageLoader;
        grid->setImageLoader(loader);
    }
    // Destroying the grid's window hands its loader to the frame's manager.
    ~Harness()
    {
        frame->DestroyWindow();
        frame.reset();
    }
    void commence() { post(new CJ2KCommenceRequest(grid, image, false)); }
    void post(CJ2KRequest* request) { loader->postRequest(boost::shared_ptr<CJ2KRequest>(request)); }
    // Pumps until the condition holds; false after 60 s.
    bool until(const std::function<bool()>& condition) { return platform::PumpUntil(condition, 60000); }
    rendering render(int level)
    {
        return render_level(*image->getCodestream(), *image->getChannelMapping(), *loader->getRegionDecompressor(),
                            level);
    }

    boost::shared_ptr<CJ2KFrame> frame;
    boost::shared_ptr<CJ2KSubFrame> subFrame;
    boost::shared_ptr<TestGrid> grid;
    boost::shared_ptr<CJ2KImage> image;
    CJ2KImageLoader* loader = nullptr;
};

// A rendering equal, sample for sample, to opj_decompress's decode of name at level.
inline void expectExact(const rendering& r, const std::string& name, int level, int components)
{
    ASSERT_TRUE(r.ended);
    for (int c = 0; c < components; ++c) {
        const pgx_image want =
            read_pgx(fixtureDir() + "/" + name + "_r" + std::to_string(level) + "_" + std::to_string(c) + ".pgx");
        ASSERT_EQ(r.pixels.size(), want.samples.size()) << name << " level " << level;
        for (size_t i = 0; i < want.samples.size(); ++i) {
            const int got = components == 1 ? int(r.pixels[i]) : channel_of(r.pixels[i], c);
            ASSERT_EQ(got, want.samples[i]) << name << " level " << level << " channel " << c << " at " << i;
        }
    }
}

// The cache holds exactly the bins of the server's index, each complete.
inline void expectIndexedBins(rvd_cache& cache, const std::string& name)
{
    SCOPED_TRACE(name);
    gridtest::expectCacheHoldsIndex(cache, slurp(fixtureDir() + "/" + name + ".index.json"));
}

} // namespace harness
