// Configuration, stamp and PSSI texts (split at the first two NUL bytes) through every
// reader of the data-access object, on every element of the PSSI document.
#include "R2IVuzi/PssiXmlDao.h"
#include "annotation/CurrentStamp.h"
#include "diagnostics/Logging.h"

#include <boost/lexical_cast.hpp>
#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void readImage(const CPssiXmlDao& dao, const TiXmlNode* node)
{
    std::string text;
    float f = 0;
    int i = 0;
    double row = 0, column = 0;
    dao.getObjectFile(node);
    dao.getInstanceUID(node);
    dao.getPhotometricInterpretation(node, text);
    dao.getRescaleIntercept(node, f);
    dao.getRescaleSlope(node, f);
    dao.getPixelRepresentation(node, i);
    dao.getModality(node);
    dao.getImageStatusTag(node);
    dao.getAnnotationTag(node);
    try { dao.getWindowCenter(node, f); } catch (const boost::bad_lexical_cast&) {}
    try { dao.getWindowWidth(node, f); } catch (const boost::bad_lexical_cast&) {}
    try { dao.getPixelSpacing(node, row, column); } catch (const boost::bad_lexical_cast&) {}
    try {
        VoiLutEntry lut;
        dao.getModalityLUT(node, lut);
    } catch (const boost::bad_lexical_cast&) {
    }
    try {
        std::map<int, VoiLutEntry> luts;
        dao.getVOILUT(node, luts);
    } catch (const boost::bad_lexical_cast&) {
    }
    try {
        VoiLutEntry lut;
        dao.readLutItem(node, 1, lut);
    } catch (const boost::bad_lexical_cast&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool quiet = [] {
        setMinLogLevel(4);
        return true;
    }();
    (void)quiet;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t first = input.find('\0');
    const size_t second = first == std::string::npos ? std::string::npos : input.find('\0', first + 1);
    const std::string config = input.substr(0, first);
    const std::string stamps = first == std::string::npos ? std::string() : input.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
    const std::string pssi = second == std::string::npos ? std::string() : input.substr(second + 1);

    CPssiXmlDao dao;
    dao.parseConfig(config);
    dao.parseStamp(stamps);
    dao.parsePssi(pssi);
    try { dao.getLanguage(); } catch (const boost::bad_lexical_cast&) {}
    try { dao.getMaxLayout(); } catch (const boost::bad_lexical_cast&) {}
    try { dao.getWorkingMode(); } catch (const boost::bad_lexical_cast&) {}
    try { dao.getHangMode(); } catch (const boost::bad_lexical_cast&) {}
    try { dao.getWorkingTool(); } catch (const boost::bad_lexical_cast&) {}
    try { dao.getAnnTool(); } catch (const boost::bad_lexical_cast&) {}
    try { dao.getSelectMode(); } catch (const boost::bad_lexical_cast&) {}
    try { dao.getRetryTimes(); } catch (const boost::bad_lexical_cast&) {}
    try { dao.getPacketSize(); } catch (const boost::bad_lexical_cast&) {}
    try { dao.getMenuItems(); } catch (const boost::bad_lexical_cast&) {}
    dao.getResourceText("Zoom");

    // Stamp decoding under each item's name.
    for (const auto& entry : dao.getStampNames(0)) {
        currentStampName = entry.second;
        dao.loadCurrentStampData();
    }
    currentStampName.clear();
    currentStampBitmap.clear();

    std::vector<const TiXmlNode*> pending;
    if (const TiXmlElement* root = dao.getRootElement())
        pending.push_back(root);
    // Every reader is an XPath query over the whole document: the root and one element below
    // it reach all of them; each further element slows every input.
    size_t visited = 0;
    while (!pending.empty() && visited < 2) {
        const TiXmlNode* n = pending.back();
        pending.pop_back();
        ++visited;
        readImage(dao, n);
        for (const TiXmlElement* c = n->FirstChildElement(); c; c = c->NextSiblingElement())
            pending.push_back(c);
    }
    return 0;
}
