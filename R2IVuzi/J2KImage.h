// One JPEG 2000 image streamed over JPIP: its target, data-bin cache, the JP2 source and
// codestream opened on that cache, the channel mapping, the display buffer and the
// presentation state. Shared by the grid showing it, the requests filling it and the
// image registry.
#pragma once

#include "R2IVuzi/ImageStatusSource.h"
#include "R2IVuzi/J2KCache.h"
#include "R2IVuzi/J2KOverlayRecord.h"
#include "annotation/OrbelAnnWrapper.h"
#include "codec/core/rvd_dims.h"

#include <boost/shared_ptr.hpp>
#include <boost/thread/lock_guard.hpp>
#include <boost/thread/mutex.hpp>

#include <memory>
#include <string>
#include <vector>

class CImageBase;
class TiXmlNode;
class jp2_family_src;
class jp2_source;
class rvd_channel_mapping;
class rvd_codestream;
class rvd_compressed_source;

class CJ2KImage : public IImageStatusSource {
public:
    CJ2KImage(const std::string& target, const std::string& uid, TiXmlNode* element);
    // Never touches windows: safe on any thread.
    ~CJ2KImage() override;
    CJ2KImage(const CJ2KImage&) = delete;
    CJ2KImage& operator=(const CJ2KImage&) = delete;

    std::string getTarget() const { return m_target; }
    // Makes the input source ready once the cache holds enough; logs "Cache is not
    // ready!" and leaves it empty otherwise (a later call tries again).
    void openSource(const boost::shared_ptr<CJ2KCache>& cache);
    // Opens and sets up the codestream on the input source. CJ2KParseException without
    // a source, or when the JP2 header maps components the codestream lacks.
    void openCodestream();
    void buildCacheModelUpdateString(std::string& out);
    void close();

    // The whole image's size at a resolution level, from the region the codestream
    // opened with; false before that. Any thread.
    bool getFrameSize(int level, int& width, int& height) const;

    boost::shared_ptr<CJ2KCache> getCache() const { return m_cache; }
    boost::shared_ptr<rvd_compressed_source> getInputSource() const { return m_input; }
    boost::shared_ptr<rvd_codestream> getCodestream() const { return m_codestream; }
    boost::shared_ptr<rvd_channel_mapping> getChannelMapping() const { return m_mapping; }
    boost::shared_ptr<jp2_source> getJp2Source() const { return m_jp2; }
    CImageBase& getImageBase() { return *m_imageBase; }
    OrbelAnnWrapper& getAnnWrapper() { return m_annotations; }
    TiXmlNode* getElement() const { return m_element; }

    int getDiscardLevels() const { return m_discardLevels; }
    int getCurrentDiscardLevels() const { return m_currentDiscardLevels; }
    void setCurrentDiscardLevels(int levels) { m_currentDiscardLevels = levels; }
    int getReferenceComponent() const { return m_referenceComponent; }
    bool isSingleComponent() const { return m_singleComponent; }
    int getWidth() const { return m_width; }
    int getHeight() const { return m_height; }
    int getLayers() const { return m_layers; }
    int getBitDepth() const { return m_bitDepth; }
    bool isSigned() const { return m_signed; }
    const rvd_dims& getReferenceDims() const { return m_referenceDims; }
    // Vertical first.
    int getExpansionY() const { return m_expansionY; }
    int getExpansionX() const { return m_expansionX; }

    bool isOpened() const { return m_opened; }
    void setOpened(bool opened) { m_opened = opened; }
    bool isPresented() const { return m_presented; }
    void setPresented(bool presented) { m_presented = presented; }
    const std::string& getStatus() const { return m_status; }
    void setStatus(const std::string& status) { m_status = status; }
    // Keeps the document of the image's element alive as long as the image.
    void holdDocument(const boost::shared_ptr<const void>& document) { m_document = document; }
    // Set when the grid gives up on the image, cleared by a new attempt. User-interface
    // thread only.
    bool hasFailed() const { return !m_failure.empty(); }
    void setFailure(const std::string& reason) { m_failure = reason; }
    // The annotation text presentation stored as the base for change reports.
    const std::string& getStoredAnnotation() const { return m_storedAnnotation; }
    void setStoredAnnotation(const std::string& text) { m_storedAnnotation = text; }
    // The overlay layout, replaced whole at presentation. User-interface thread only.
    const std::vector<OverlayLayoutEntry>& getOverlayEntries() const { return m_overlayEntries; }
    const std::vector<CJ2KOverlayRecord>& getOverlayGroups() const { return m_overlayGroups; }
    void setOverlayLayout(const std::vector<OverlayLayoutEntry>& entries, const std::vector<CJ2KOverlayRecord>& groups)
    {
        m_overlayEntries = entries;
        m_overlayGroups = groups;
    }

    // IImageStatusSource
    std::string getInstanceUID() const override { return m_uid; }
    std::string getDisplayStateText() const override;
    std::string getLastReportedText() const override { return m_information; }
    void setLastReportedText(const std::string& text) override { m_information = text; }
    std::string getAnnotationText() const override;
    bool isAnnotationModified() const override;
    void setAnnotationModified(bool modified) override;
    std::string getFailure() const override { return m_failure; }

private:
    void computeExpansion();

    int m_discardLevels = 0;
    int m_currentDiscardLevels = 0;
    int m_referenceComponent = -1;
    bool m_singleComponent = false;
    int m_width = 0;
    int m_height = 0;
    int m_layers = 0;
    int m_bitDepth = 0;
    bool m_signed = false;
    rvd_dims m_referenceDims;
    int m_expansionY = 1;
    int m_expansionX = 1;
    int m_usedExpansionY = 1;
    int m_usedExpansionX = 1;
    boost::shared_ptr<CJ2KCache> m_cache;
    const std::string m_target;
    const std::string m_uid;
    boost::shared_ptr<rvd_compressed_source> m_input;
    boost::shared_ptr<jp2_source> m_jp2;
    boost::shared_ptr<jp2_family_src> m_family;
    boost::shared_ptr<rvd_codestream> m_codestream;
    boost::shared_ptr<rvd_channel_mapping> m_mapping;
    std::unique_ptr<CImageBase> m_imageBase;
    TiXmlNode* m_element;
    boost::shared_ptr<const void> m_document;
    std::string m_status;
    std::string m_failure;
    std::string m_storedAnnotation;
    std::vector<OverlayLayoutEntry> m_overlayEntries;
    std::vector<CJ2KOverlayRecord> m_overlayGroups;
    std::string m_information;
    bool m_opened = false;
    mutable OrbelAnnWrapper m_annotations;
    bool m_presented = false;

    // The canvas region the codestream opened with; read by loader threads.
    mutable boost::mutex m_regionMutex;
    bool m_hasRegion = false;
    rvd_dims m_canvasRegion;
};
