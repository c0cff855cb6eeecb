// The annotation-server client against the loopback server: the request text, the merge
// into the PSSI document, the notifications and the failure reports.
#include "R2IVuzi/J2KAnnotationLoader.h"
#include "R2IVuzi/J2KAnnotationRequest.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "R2IVuzi/StartupValues.h"
#include "diagnostics/Logging.h"
#include "platform/ModuleStartup.h"
#include "tests/R2IVuzi/NullObserver.h"
#include "tests/support/JpipTestServer.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>

namespace {

const char* const kPssi =
    "<Root><Patient annotated=\"False\"><PatientUID>p</PatientUID><Tag>oldP</Tag>"
    "<Study annotated=\"False\"><StudyUID>s</StudyUID><Tag>oldS</Tag>"
    "<Series annotated=\"False\"><SeriesUID>e</SeriesUID><Tag>oldE</Tag>"
    "<Image annotated=\"False\"><ImageUID>1.2.3</ImageUID><ObjectFile>key</ObjectFile><Tag>oldI</Tag>"
    "</Image></Series></Study></Patient></Root>";

const char* const kFourLevels =
    "<Root><Patient><PatientUID>p</PatientUID><Tag>P</Tag><Study><StudyUID>s</StudyUID><Tag>S</Tag>"
    "<Series><SeriesUID>e</SeriesUID><Tag>E</Tag><Image><ImageUID>@UID@</ImageUID><Tag>I</Tag>"
    "</Image></Series></Study></Patient></Root>";

std::string tempDir()
{
    std::string dir = (std::filesystem::temp_directory_path() / "orbel-annotation-XXXXXX").string();
    return mkdtemp(dir.data()) ? dir : std::string();
}

class Observer : public NullObserver {
public:
    void startPresentation(const std::string& key) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        presented.push_back(key);
        changed.notify_all();
    }
    void reportError(int kind, std::unique_ptr<CJ2KException> error) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        errors.push_back(std::to_string(kind) + "|" + (error ? error->what() : "") + "|" +
                         (error ? error->getContext() : ""));
        changed.notify_all();
    }
    boost::shared_ptr<CPssiXmlDao> getPssiXmlDao() override { return dao; }
    boost::shared_ptr<CJ2KAnnotationLoader> getAnnotationLoader() override { return loader; }
    // Waits until `count` notifications of either kind have come; false after 30 s.
    bool waitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30),
                                [&] { return presented.size() + errors.size() >= count; });
    }

    boost::shared_ptr<CPssiXmlDao> dao{new CPssiXmlDao};
    boost::shared_ptr<CJ2KAnnotationLoader> loader;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> presented;
    std::vector<std::string> errors;
};

// A PSSI document, a loader pointed at a server with the given options, a log file.
struct Fixture {
    explicit Fixture(const std::vector<std::string>& serverArgs, const char* reply = kFourLevels)
    {
        if (!StartupRegistry::global().loaded())
            StartupRegistry::global().load();
        dir = tempDir();
        std::ofstream(dir + "/default.xml") << reply;
        std::vector<std::string> args = serverArgs;
        args.insert(args.end(), {"--annotation-default", dir + "/default.xml"});
        try {
            server.reset(new OrbelTest::JpipTestServer(dir, args));
        } catch (...) {
            std::error_code ignored; // no destructor runs for a half-made fixture
            std::filesystem::remove_all(dir, ignored);
            throw;
        }
        setenv("ORBEL_DRIVE_C", dir.c_str(), 1);
        setMinLogLevel(0);
        initLogFile(u"C:\\Quillon.Log", 1, 1, 0);
        g_jpipLowSpeedSeconds = 2;
        observer.reset(new Observer);
        observer->dao->parsePssi(kPssi);
        observer->loader.reset(new CJ2KAnnotationLoader);
        observer->loader->setServerAddress(server->annotationAddress());
    }
    ~Fixture()
    {
        observer->loader->stop();
        g_jpipLowSpeedSeconds = kDefaultJpipLowSpeedSeconds;
        initLogFile(nullptr, 0, 1, 1);
        std::filesystem::remove_all(dir);
    }
    void post(bool detail)
    {
        observer->loader->postRequest(boost::shared_ptr<CJ2KRequest>(
            new CJ2KAnnotationRequest(boost::shared_ptr<CJ2KObserver>(observer), "key", "1.2.3", detail)));
    }
    std::string log()
    {
        closeLogFile();
        std::ifstream in(dir + "/Quillon.Log", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string tagsOf(const char* level)
    {
        std::string out;
        TiXmlElement* e = observer->dao->getRootElement();
        for (const char* name : {"Patient", "Study", "Series", "Image"}) {
            e = e ? e->FirstChildElement(name) : nullptr;
            if (e && std::string(name) == level) {
                for (TiXmlElement* t = e->FirstChildElement("Tag"); t; t = t->NextSiblingElement("Tag"))
                    out += std::string(t->GetText() ? t->GetText() : "") + ";";
                out += e->Attribute("annotated") ? e->Attribute("annotated") : "";
            }
        }
        return out;
    }
    std::string dir;
    std::unique_ptr<OrbelTest::JpipTestServer> server;
    boost::shared_ptr<Observer> observer;
};

// The position of a log record "<source>(<line>)] <text>", npos when absent.
size_t findRecord(const std::string& log, const std::string& source, int line, const std::string& text)
{
    return log.find(source + "(" + std::to_string(line) + ")] " + text);
}

} // namespace

TEST(AnnotationRequest, RequestsTheTextAndMergesTheReply)
{
    struct Case {
        bool detail;
        const char* language;
        const char* reply;
        const char* query;
        const char* image;
        const char* patient;
    } cases[] = {
        {true, "EN", kFourLevels, "UID=1.2.3&Detail=0,0,0,1&Language=EN", "I;True", "oldP;False"},
        {false, "DE", kFourLevels, "UID=1.2.3&Detail=1,1,1,1&Language=DE", "I;True", "P;True"},
        // A reply without the image merges nothing but still lets the image be presented.
        {false, "EN", "<Root><Image><ImageUID>9.9</ImageUID><Tag>X</Tag></Image></Root>",
         "UID=1.2.3&Detail=1,1,1,1&Language=EN", "oldI;False", "oldP;False"},
        // Not XML: logged, nothing merged, presented from what the document holds.
        {true, "EN", "<Root><Image>", "UID=1.2.3&Detail=0,0,0,1&Language=EN", "oldI;False", "oldP;False"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        Fixture f({}, c.reply);
        GetAnnotationLanguage() = c.language;
        f.post(c.detail);
        ASSERT_TRUE(f.observer->waitFor(1));
        GetAnnotationLanguage() = "EN";
        EXPECT_EQ(f.observer->presented, std::vector<std::string>{"key"});
        EXPECT_TRUE(f.observer->errors.empty());
        EXPECT_EQ(f.tagsOf("Image"), c.image);
        EXPECT_EQ(f.tagsOf("Patient"), c.patient);
        const std::vector<std::string> lines = f.server->logLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("\"target\": \"/annotation?" + std::string(c.query) + "\""), std::string::npos)
            << lines[0];
        // The handle's set-up: the same agent as the image loader's.
        EXPECT_NE(lines[0].find("User-Agent"), std::string::npos) << lines[0];
        EXPECT_NE(lines[0].find("\"time\": "), std::string::npos) << lines[0];
        const std::string log = f.log();
        const size_t got = findRecord(log, "J2KAnnotationRequest", 83, "Get reply from annotation server!");
        EXPECT_NE(got, std::string::npos) << log;
        if (std::string(c.reply) == "<Root><Image>") {
            EXPECT_NE(findRecord(log, "J2KAnnotationRequest", 107, "Error when parse annotation XML for image key"),
                      std::string::npos)
                << log;
        } else {
            const size_t done =
                findRecord(log, "J2KAnnotationRequest", 141, "Configure PSSI with required annotation done!");
            EXPECT_NE(done, std::string::npos) << log;
            EXPECT_LT(got, done);
        }
    }
}

TEST(AnnotationRequest, EndsQuietlyForAnAnnotatedImageOrAGoneGrid)
{
    Fixture f({});
    TiXmlElement* image = f.observer->dao->findNodeByUID(f.observer->dao->getRootElement(), "//Image", "1.2.3")
                              ->ToElement();
    image->SetAttribute("annotated", "True");
    CJ2KAnnotationRequest annotated(f.observer, "key", "1.2.3", true);
    annotated.Execute();

    struct GoneObserver : Observer {
        boost::shared_ptr<CPssiXmlDao> getPssiXmlDao() override
        {
            throw CJ2KWeakPtrCastingException("Parent Subframe invalid.", "grid", 1, "");
        }
    };
    boost::shared_ptr<GoneObserver> gone(new GoneObserver);
    CJ2KAnnotationRequest orphan(gone, "key", "1.2.3", true);
    orphan.Execute();

    EXPECT_TRUE(f.server->logLines().empty());
    EXPECT_TRUE(f.observer->presented.empty() && gone->presented.empty());
    EXPECT_TRUE(f.observer->errors.empty() && gone->errors.empty());
}

TEST(AnnotationRequest, ReportsEveryFailedTransferAndRecovers)
{
    struct Case {
        std::vector<std::string> fault;
        bool recovers;
    } cases[] = {
        {{}, false}, // the server stopped
        {{"--fault", "status:code=500,on=annotation,times=1"}, true},
        {{"--fault", "stall:on=annotation,times=1"}, true},
        {{"--fault", "drop:on=annotation,after=200,times=1"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault.empty() ? "stopped" : c.fault[1]);
        Fixture f(c.fault);
        if (!c.recovers)
            f.server->stop();
        f.post(true);
        ASSERT_TRUE(f.observer->waitFor(1));
        EXPECT_EQ(f.observer->errors,
                  std::vector<std::string>{"1|Connection to Annotation server failed.|key"});
        EXPECT_TRUE(f.observer->presented.empty());
        EXPECT_EQ(f.tagsOf("Image"), "oldI;False");
        if (c.recovers) {
            f.post(true);
            ASSERT_TRUE(f.observer->waitFor(2));
            EXPECT_EQ(f.observer->presented, std::vector<std::string>{"key"});
            EXPECT_EQ(f.tagsOf("Image"), "I;True");
        }
        const std::string log = f.log();
        EXPECT_NE(findRecord(log, "J2KAnnotationRequest", 92,
                             "Error to receive response from annotation server for 1.2.3"),
                  std::string::npos)
            << log;
    }
}

TEST(AnnotationRequest, QueryValuesArrivePercentEncoded)
{
    struct Case {
        const char* uid;       // as the PSSI document holds it
        const char* uidXml;    // the same, written into XML
        const char* language;
        const char* query;     // what the server must receive
    } cases[] = {
        {"1.2&Detail=9", "1.2&amp;Detail=9", "EN", "UID=1.2%26Detail%3D9&Detail=0,0,0,1&Language=EN"},
        {"1.2#3", "1.2#3", "EN", "UID=1.2%233&Detail=0,0,0,1&Language=EN"},
        {"1.2 3", "1.2 3", "pt BR", "UID=1.2%203&Detail=0,0,0,1&Language=pt%20BR"},
        {"1.2.\xC3\xA9~_-", "1.2.\xC3\xA9~_-", "\xE6\x97\xA5", "UID=1.2.%C3%A9~_-&Detail=0,0,0,1&Language=%E6%97%A5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.query);
        std::string reply = kFourLevels;
        reply.replace(reply.find("@UID@"), 5, c.uidXml);
        Fixture f({}, reply.c_str());
        std::string pssi = kPssi;
        pssi.replace(pssi.find("1.2.3"), 5, c.uidXml);
        f.observer->dao->parsePssi(pssi);
        GetAnnotationLanguage() = c.language;
        f.observer->loader->postRequest(boost::shared_ptr<CJ2KRequest>(
            new CJ2KAnnotationRequest(boost::shared_ptr<CJ2KObserver>(f.observer), "key", c.uid, true)));
        ASSERT_TRUE(f.observer->waitFor(1));
        GetAnnotationLanguage() = "EN";
        const std::vector<std::string> lines = f.server->logLines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("\"target\": \"/annotation?" + std::string(c.query) + "\""), std::string::npos)
            << lines[0];
        // The reply names the image by the same UID, so it is merged.
        EXPECT_EQ(f.tagsOf("Image"), "I;True");
    }
}
