#include "R2IVuzi/PssiXmlDao.h"

#include "platform/TextConv.h"

#include <tinyxml.h>


std::u16string utf8ToWide(const char* utf8)
{
    if (!utf8 || !*utf8)
        return std::u16string();
    return Utf8ToUtf16(utf8);
}

CPssiXmlDao::CPssiXmlDao() = default;

CPssiXmlDao::~CPssiXmlDao()
{
    {
        Lock lock(*this);
        workingRoots_.clear();
    }
    // Emptied as the viewer always did; the documents themselves go with their owners.
    if (pssi_) {
        pssi_->ClearError();
        pssi_->Clear();
    }
    if (config_) {
        config_->ClearError();
        config_->Clear();
    }
    images_.clear();
}

void CPssiXmlDao::retire(std::unique_ptr<TiXmlDocument>& slot)
{
    if (slot)
        retired_.push_back(std::move(slot));
}

TiXmlDocument* CPssiXmlDao::freshDocument(std::unique_ptr<TiXmlDocument>& slot, const char* name)
{
    // TinyXML's Parse appends to existing content, so a used document is replaced.
    if (!slot || slot->FirstChild() || slot->Error()) {
        retire(slot);
        slot.reset(new TiXmlDocument(name));
    }
    return slot.get();
}

void CPssiXmlDao::setConfigDocument(std::unique_ptr<TiXmlDocument> doc)
{
    retire(config_);
    config_ = std::move(doc);
}

void CPssiXmlDao::parseConfig(const std::string& utf8)
{
    parseXmlText(*freshDocument(config_, "Config.xml"), utf8.c_str());
}

bool CPssiXmlDao::hasConfigError() const
{
    return !config_ || config_->Error();
}

void CPssiXmlDao::setPssiDocument(std::unique_ptr<TiXmlDocument> doc)
{
    Lock lock(*this);
    retire(pssi_);
    pssi_ = std::move(doc);
    workingRoots_.clear();
    currentNode_ = nullptr;
}

void CPssiXmlDao::parsePssi(const std::string& utf8)
{
    Lock lock(*this);
    TiXmlDocument* doc = freshDocument(pssi_, "BasePssi.xml");
    workingRoots_.clear();
    currentNode_ = nullptr;
    parseXmlText(*doc, utf8.c_str());
}

bool CPssiXmlDao::hasPssiError() const
{
    return !pssi_ || pssi_->Error();
}

bool CPssiXmlDao::hasPssiDocument() const
{
    return pssi_ != nullptr;
}

void CPssiXmlDao::setStampDocument(std::unique_ptr<TiXmlDocument> doc)
{
    retire(stamp_);
    stamp_ = std::move(doc);
}

void CPssiXmlDao::parseStamp(const std::string& utf8)
{
    parseXmlText(*freshDocument(stamp_, "stampConfig.xml"), utf8.c_str());
}

bool CPssiXmlDao::hasStampError() const
{
    return !stamp_ || stamp_->Error();
}

TiXmlElement* CPssiXmlDao::getRootElement() const
{
    Lock lock(*this);
    return pssi_ ? pssi_->FirstChildElement() : nullptr;
}

void CPssiXmlDao::parseXmlText(TiXmlDocument& doc, const char* utf8)
{
    std::string padded(utf8 ? utf8 : "");
    padded.append(4, '\0');
    doc.Parse(padded.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
}

std::string CPssiXmlDao::getLevelName(int level)
{
    static const char* const kNames[] = {"Frame", "Image", "Series", "Study", "Patient", "Root"};
    if (level < 0 || level > 5)
        return std::string();
    return kNames[level];
}

boost::shared_ptr<IImageStatusSource> CPssiXmlDao::findImage(const std::string& target) const
{
    auto it = images_.find(target);
    return it == images_.end() ? boost::shared_ptr<IImageStatusSource>() : it->second;
}

void CPssiXmlDao::registerImage(const std::string& target, const boost::shared_ptr<IImageStatusSource>& image)
{
    if (!target.empty())
        images_.insert(std::make_pair(target, image));
}

void CPssiXmlDao::addWorkingRoot(TiXmlNode* node)
{
    Lock lock(*this);
    workingRoots_.push_back(node);
}

void CPssiXmlDao::clearWorkingRoots()
{
    Lock lock(*this);
    workingRoots_.clear();
}

TiXmlNode* CPssiXmlDao::getWorkingRoot(size_t index) const
{
    return index < workingRoots_.size() ? workingRoots_[index] : nullptr;
}

TiXmlNode* CPssiXmlDao::getNodeAt(std::vector<TiXmlNode*> list, size_t index)
{
    return index < list.size() ? list[index] : nullptr;
}
