// PSSI, overlay, study and reply texts (split at the first three NUL bytes) through every
// editing operation of the data-access object: overlay merge, study insertion with UIDs
// from the document, reply merges, hanging marks, overlay readers and the status document.
#include "R2IVuzi/PssiXmlDao.h"
#include "diagnostics/Logging.h"

#include <boost/lexical_cast.hpp>
#include <boost/make_shared.hpp>
#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

class FakeImage : public IImageStatusSource {
public:
    explicit FakeImage(std::string uid) : uid_(std::move(uid)) {}
    std::string getInstanceUID() const override { return uid_; }
    std::string getDisplayStateText() const override { return "0a0b"; }
    std::string getLastReportedText() const override { return last_; }
    void setLastReportedText(const std::string& text) override { last_ = text; }
    std::string getAnnotationText() const override { return "ff"; }
    bool isAnnotationModified() const override { return modified_; }
    void setAnnotationModified(bool modified) override { modified_ = modified; }

private:
    std::string uid_;
    std::string last_;
    bool modified_ = true;
};

constexpr size_t kMaxElements = 400;

void elements(const TiXmlNode* root, std::vector<TiXmlNode*>& out)
{
    std::vector<const TiXmlNode*> pending;
    if (root)
        pending.push_back(root);
    while (!pending.empty() && out.size() < kMaxElements) {
        const TiXmlNode* n = pending.back();
        pending.pop_back();
        out.push_back(const_cast<TiXmlNode*>(n));
        for (const TiXmlElement* c = n->FirstChildElement(); c; c = c->NextSiblingElement())
            pending.push_back(c);
    }
}

std::string uidOf(const TiXmlNode* n)
{
    const TiXmlNode* first = n ? n->FirstChild() : nullptr;
    const TiXmlNode* text = first ? first->FirstChild() : nullptr;
    return text ? text->Value() : "";
}

std::string part(const std::string& input, size_t index)
{
    size_t start = 0;
    for (size_t k = 0; k < index; ++k) {
        start = input.find('\0', start);
        if (start == std::string::npos)
            return std::string();
        ++start;
    }
    const size_t end = index == 3 ? std::string::npos : input.find('\0', start);
    return input.substr(start, end == std::string::npos ? std::string::npos : end - start);
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

    CPssiXmlDao dao;
    dao.parsePssi(part(input, 0));
    dao.updateOverlayConfig(part(input, 1).c_str());

    TiXmlElement* root = dao.getRootElement();
    const std::string patient = uidOf(dao.getLevelNode(root, 4, 0, false));
    const std::string uncle = uidOf(dao.getLevelNode(root, 4, 1, false));
    const std::string study = uidOf(dao.getLevelNode(root, 3, 0, false));
    const std::string studyXml = part(input, 2);
    dao.insertStudy(patient, uncle, study, studyXml.c_str());
    dao.insertStudy("none", uncle, study, studyXml.c_str());
    dao.insertStudy(patient, "none", "none", studyXml.c_str());

    TiXmlDocument reply;
    CPssiXmlDao::parseXmlText(reply, part(input, 3).c_str());
    const TiXmlNode* replyImage = dao.getLevelNode(&reply, 1, 0, false);
    if (!replyImage)
        replyImage = reply.RootElement();
    // Merges remove Tags and whatever they hold: look images up by UID, not by pointer.
    std::vector<TiXmlNode*> nodes;
    elements(root, nodes);
    std::vector<std::string> uids;
    for (TiXmlNode* n : nodes)
        if (std::string(n->Value()) == "Image")
            uids.push_back(uidOf(n));
    if (replyImage && replyImage->ToElement())
        for (const std::string& uid : uids) {
            dao.configureImageAnnotation(uid, replyImage->ToElement());
            dao.configureImageAnnotationTree(uid, replyImage->ToElement());
        }

    nodes.clear();
    elements(root, nodes);
    for (TiXmlNode* n : nodes)
        if (std::string(n->Value()) == "Image")
            dao.registerImage(dao.getObjectFile(n), boost::make_shared<FakeImage>(dao.getInstanceUID(n)));
    dao.setHangingDownward(root, 5, "True");
    for (TiXmlNode* n : nodes) {
        for (int level = -1; level <= 6; ++level) {
            dao.getHangingCount(n, level);
            dao.getHangingNodeList(n, level);
            dao.getLevelNode(n, level, 1, level % 2 == 0);
        }
        dao.findNodeByUID(n, "//Image", uidOf(n));
        dao.isAnnotated(n);
        dao.isParentAnnotated(n);
        for (TiXmlNode* tag : dao.getOverlayTags(n)) {
            const OverlayTagInfo info = dao.getTagAttributes(tag);
            dao.getTagValueByLevel(n, info);
            dao.getIntByName(tag, "gridx");
            dao.getWideTextByName(tag, "prefix");
        }
    }
    for (TiXmlNode* n : nodes)
        if (std::string(n->Value()) == "Image")
            dao.setHangingUpward(n, 1, "False");
    if (!nodes.empty())
        dao.setHangingDownward(nodes.back(), 3, "False");
    try {
        dao.getOverlayFont();
    } catch (const boost::bad_lexical_cast&) {
    }
    dao.getImageStatus();
    dao.getImageStatus();
    return 0;
}
