// Arbitrary bytes as a status-200 annotation reply body (the first byte picks the
// detail flag): parsed, looked up and merged into a PSSI document whose images are not
// yet annotated.
#include "R2IVuzi/J2KAnnotationRequest.h"
#include "R2IVuzi/J2KObserver.h"
#include "R2IVuzi/PssiXmlDao.h"
#include "diagnostics/Logging.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

// tools/make_pssi.py --patients 1 --studies 1 --series 1 --images 2 --object-base k
const char* const kPssi =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<Root>\n"
    "<Patient hanging=\"False\" annotated=\"False\"><PatientUID>1.1</PatientUID>\n"
    "<Tag group=\"0x0010\" element=\"0x0010\" vr=\"LO\">Patient^1</Tag>\n"
    "<Study hanging=\"False\" annotated=\"False\"><StudyUID>1.1.1</StudyUID>\n"
    "<Series hanging=\"False\" annotated=\"False\"><SeriesUID>1.1.1.1</SeriesUID>\n"
    "<Tag group=\"0x0008\" element=\"0x0060\" vr=\"LO\">CT</Tag>\n"
    "<Image hanging=\"False\" annotated=\"False\"><ImageUID>1.1.1.1.1</ImageUID>\n"
    "<ObjectFile>k1_1_1_1</ObjectFile>\n"
    "<InstanceUID>1.1.1.1.1</InstanceUID>\n"
    "<Tag group=\"0x0028\" element=\"0x1050\" vr=\"LO\">41</Tag>\n"
    "<Tag group=\"0x0028\" element=\"0x1051\" vr=\"LO\">400</Tag>\n"
    "<Tag group=\"0x0009\" element=\"0x1000\" vr=\"LO\">v0</Tag>\n"
    "<Tag group=\"0x0009\" element=\"0x1001\" vr=\"LO\">v1</Tag>\n"
    "</Image>\n"
    "<Image hanging=\"False\" annotated=\"False\"><ImageUID>1.1.1.1.2</ImageUID>\n"
    "<ObjectFile>k1_1_1_2</ObjectFile>\n"
    "<InstanceUID>1.1.1.1.2</InstanceUID>\n"
    "<Tag group=\"0x0028\" element=\"0x1050\" vr=\"LO\">42</Tag>\n"
    "<Tag group=\"0x0028\" element=\"0x1051\" vr=\"LO\">400</Tag>\n"
    "<Tag group=\"0x0009\" element=\"0x1000\" vr=\"LO\">v0</Tag>\n"
    "<Tag group=\"0x0009\" element=\"0x1001\" vr=\"LO\">v1</Tag>\n"
    "</Image>\n"
    "</Series>\n"
    "</Study>\n"
    "</Patient>\n"
    "</Root>\n";

class DaoObserver : public CJ2KObserver {
public:
    void startRenderTimer(const std::string&) override {}
    void dataArrived(const std::string&, const int*) override {}
    void updateView() override {}
    void startProcess(const std::string&) override {}
    void startPresentation(const std::string&) override {}
    void updateRegion(const std::string&, const int*) override {}
    void setLoaderReady(const std::string&) override {}
    void reportError(int, std::unique_ptr<CJ2KException>) override {}
    CJ2KImageLoader* getImageLoader() override { return nullptr; }
    void setImageLoader(CJ2KImageLoader*) override {}
    std::string getTarget() override { return std::string(); }
    void setTarget(std::string) override {}
    boost::shared_ptr<CPssiXmlDao> getPssiXmlDao() override { return dao; }
    boost::shared_ptr<CJ2KAnnotationLoader> getAnnotationLoader() override { return {}; }

    boost::shared_ptr<CPssiXmlDao> dao{new CPssiXmlDao};
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        setMinLogLevel(4);
        return true;
    }();
    (void)quiet;
    if (size == 0)
        return 0;
    boost::shared_ptr<DaoObserver> observer(new DaoObserver);
    observer->dao->parsePssi(kPssi);
    const std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
    CJ2KAnnotationRequest request(observer, "k1_1_1_1", "1.1.1.1.1", data[0] & 1);
    request.handleReply(body.c_str());
    return 0;
}
