#include "R2IVuzi/J2KImage.h"

#include "R2IVuzi/J2KDatabinClassInfo.h"
#include "R2IVuzi/J2KException.h"
#include "R2IVuzi/JpipHttp.h"
#include "codec/core/rvd_codestream.h"
#include "codec/jp2/jp2_family_src.h"
#include "codec/jp2/jp2_source.h"
#include "codec/jp2/rvd_channel_mapping.h"
#include "diagnostics/Logging.h"
#include "image/ImageBase.h"

#include <algorithm>

ORBEL_SOURCE_NAME(".\\R2IVuzi\\J2KImage")

namespace {

// The cache serves as the input source of a raw codestream but belongs to the image.
void keepAlive(rvd_compressed_source*) {}

} // namespace

CJ2KImage::CJ2KImage(const std::string& target, const std::string& uid, TiXmlNode* element)
    : m_cache(new CJ2KCache), m_target(target), m_uid(uid), m_jp2(new jp2_source), m_family(new jp2_family_src),
      m_codestream(new rvd_codestream), m_mapping(new rvd_channel_mapping), m_imageBase(new CImageBase),
      m_element(element)
{
}

CJ2KImage::~CJ2KImage() { close(); }

void CJ2KImage::openSource(const boost::shared_ptr<CJ2KCache>& cache)
{
    if (!m_family->exists())
        m_family->open(cache.get());
    bool metaComplete = false;
    const int metaLength = cache->get_databin_length(RVD_META_DATABIN, 0, 0, &metaComplete);
    if (metaLength >= 1) {
        if (!m_jp2->is_open())
            m_jp2->open(m_family.get(), jp2_locator());
        if (m_jp2->is_open() && m_jp2->read_header()) {
            m_input = m_jp2;
            return;
        }
    } else if (metaComplete) {
        bool headerComplete = false;
        cache->get_databin_length(RVD_MAIN_HEADER_DATABIN, 0, 0, &headerComplete);
        if (headerComplete) {
            cache->set_read_scope(RVD_MAIN_HEADER_DATABIN, 0, 0);
            m_input = boost::shared_ptr<rvd_compressed_source>(cache.get(), &keepAlive);
            return;
        }
    }
    ORBEL_LOG_AT(ERROR, 220) << "Cache is not ready!";
}

void CJ2KImage::openCodestream()
{
    if (!m_input)
        ORBEL_THROW_AT(CJ2KParseException, 230, "Input source is null.", m_target);
    if (m_codestream->exists())
        m_codestream->destroy();
    m_codestream->create(m_input.get());
    const bool viaJp2 = m_jp2->is_open();
    if (viaJp2)
        m_mapping->configure(m_jp2.get(), true);
    else
        m_mapping->configure(*m_codestream);

    // A JP2 header may map channels onto components the codestream does not have.
    const int components = m_codestream->get_num_components(true);
    bool mapped = m_mapping->num_channels > 0 &&
                  int(m_mapping->source_components.size()) >= m_mapping->num_channels;
    for (int c = 0; mapped && c < m_mapping->num_channels; ++c) {
        const int s = m_mapping->source_components[size_t(c)];
        if (s < 0 || s >= components)
            mapped = false;
    }
    if (!mapped)
        ORBEL_THROW(CJ2KParseException,
                    "The JP2 header describes image components that the code-stream does not contain.", m_target);

    m_discardLevels = m_currentDiscardLevels = m_codestream->get_min_dwt_levels();
    m_referenceComponent = m_mapping->source_components[0];
    {
        rvd_dims region;
        m_codestream->get_dims(-1, region);
        boost::lock_guard<boost::mutex> lock(m_regionMutex);
        m_canvasRegion = region;
        m_hasRegion = true;
    }
    computeExpansion();
    m_codestream->get_dims(m_referenceComponent, m_referenceDims, true);
    m_width = m_referenceDims.size.x;
    m_height = m_referenceDims.size.y;
    m_layers = m_codestream->get_max_tile_layers();
    m_bitDepth = m_codestream->get_bit_depth(0, true);
    m_signed = m_codestream->get_signed(0, true);
    m_codestream->set_persistent();
    m_codestream->set_resilient(false);
}

void CJ2KImage::computeExpansion()
{
    m_singleComponent = false;
    rvd_coords reference;
    m_codestream->get_subsampling(m_referenceComponent, reference, true);
    rvd_coords least = reference;
    std::vector<rvd_coords> subs(size_t(m_mapping->num_channels));
    for (int c = 0; c < m_mapping->num_channels; ++c) {
        m_codestream->get_subsampling(m_mapping->source_components[size_t(c)], subs[size_t(c)], true);
        least.x = std::min(least.x, subs[size_t(c)].x);
        least.y = std::min(least.y, subs[size_t(c)].y);
    }
    m_expansionX = least.x > 0 ? reference.x / least.x : 1;
    m_expansionY = least.y > 0 ? reference.y / least.y : 1;
    for (const rvd_coords& s : subs) {
        const bool wholeX = reference.x > 0 && (int64_t(m_expansionX) * s.x) % reference.x == 0;
        const bool wholeY = reference.y > 0 && (int64_t(m_expansionY) * s.y) % reference.y == 0;
        if (!wholeX || !wholeY) {
            m_codestream->apply_input_restrictions(0, 1, 0, 0, nullptr, RVD_WANT_OUTPUT_COMPONENTS);
            m_mapping->configure(*m_codestream);
            m_expansionX = m_expansionY = 1;
            m_singleComponent = true;
            break;
        }
    }
    m_usedExpansionX = m_expansionX;
    m_usedExpansionY = m_expansionY;
}

void CJ2KImage::buildCacheModelUpdateString(std::string& out)
{
    out.clear();
    try {
        m_cache->set_all_marks();
        const std::vector<CJ2KDatabinClassInfo>& classes = GetDatabinClassTable();
        for (int64_t cs = m_cache->get_next_codestream(-1); cs >= 0; cs = m_cache->get_next_codestream(cs)) {
            out += "[" + std::to_string(cs) + "],";
            for (const CJ2KDatabinClassInfo& row : classes) {
                for (int64_t id = m_cache->get_next_databin_newest_first(row.cacheClass, cs, -1, false); id >= 0;
                     id = m_cache->get_next_databin_newest_first(row.cacheClass, cs, id, false)) {
                    bool complete = false;
                    const int length = m_cache->get_databin_length(row.cacheClass, cs, id, &complete);
                    out += row.code;
                    if (row.cacheClass != RVD_MAIN_HEADER_DATABIN)
                        out += std::to_string(id);
                    if (!complete)
                        out += ":" + std::to_string(length);
                    out += ",";
                }
            }
        }
        if (!out.empty())
            out.erase(out.size() - 1);
    } catch (...) {
        ORBEL_LOG_AT(INFO, 131) << "Exception happened in buildCacheModelUpdateString";
    }
}

void CJ2KImage::close()
{
    if (m_codestream && m_codestream->exists())
        m_codestream->destroy();
    if (m_jp2 && m_jp2->is_open())
        m_jp2->close();
    if (m_family && m_family->exists())
        m_family->close();
    m_input.reset();
    if (m_mapping)
        m_mapping->clear();
}

bool CJ2KImage::getFrameSize(int level, int& width, int& height) const
{
    boost::lock_guard<boost::mutex> lock(m_regionMutex);
    if (!m_hasRegion || level < 0)
        return false;
    jpipFrameSize(m_canvasRegion.pos.x, m_canvasRegion.pos.y, m_canvasRegion.size.x, m_canvasRegion.size.y, level,
                  width, height);
    return true;
}

std::string CJ2KImage::getDisplayStateText() const
{
    std::string text;
    return m_imageBase->GetDisplayStateText(text);
}

std::string CJ2KImage::getAnnotationText() const { return m_annotations.GetAnnotationText(); }

bool CJ2KImage::isAnnotationModified() const { return m_annotations.IsModified(); }

void CJ2KImage::setAnnotationModified(bool modified) { m_annotations.SetModified(modified); }
