// The viewer's top-level window: owns the data-access object and the two frame loaders.
// Minimal: construction and destruction in their fixed orders and the accessors the
// grids' parent walks need.
#pragma once

#include "platform/AtlWindow.h"

#include <boost/enable_shared_from_this.hpp>
#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <map>
#include <utility>

class CPssiXmlDao;
class CJ2KImageLoaderMgr;
class CJ2KAnnotationLoader;
class COrbelViewer;

// What a sub-frame position showed before the frame shrank.
struct SavedSubFrameState {
    int32_t framePage = 0;
    int32_t frameColumns = 0;
    int32_t frameRows = 0;
    int32_t subRows = 1;
    int32_t subColumns = 1;
    int32_t hangingPage = 0;
};

class CJ2KFrame : public CWindowImplBase, public boost::enable_shared_from_this<CJ2KFrame> {
public:
    explicit CJ2KFrame(COrbelViewer* owner);
    // Stops both loader threads, then cleans up libcurl; never touches windows.
    ~CJ2KFrame() override;

    boost::shared_ptr<CPssiXmlDao> getPssiXmlDao() const { return m_dao; }
    boost::shared_ptr<CJ2KImageLoaderMgr> getImageLoaderMgr() const { return m_loaderMgr; }
    boost::shared_ptr<CJ2KAnnotationLoader> getAnnotationLoader() const { return m_annotationLoader; }
    int32_t getWorkingTool() const { return m_workingTool; }
    int32_t getWheelStep() const { return m_wheelStep; }
    // Set by the tool commands; tests set them directly.
    void setWorkingTool(int32_t tool) { m_workingTool = tool; }
    int32_t getMagnification() const { return m_magnification; }
    void setMagnification(int32_t factor) { m_magnification = factor; }

    // The sub-layout remembered for the sub-frame at (column, row); a missing record is
    // made from the frame's current page and layout and the given hanging page.
    void setRememberedSubLayout(int column, int row, int subColumns, int subRows, int hangingPage);
    // Saved states by (column, row).
    const std::map<std::pair<int, int>, SavedSubFrameState>& getSavedStates() const { return m_savedStates; }

protected:
    ClassInfo GetWndClassInfo() const override;

private:
    int32_t m_rows = 0;
    int32_t m_columns = 0;
    int32_t m_subFramesPerPage = 1;
    int32_t m_totalPages = 0;
    int32_t m_currentPage = 0;
    std::map<std::pair<int, int>, SavedSubFrameState> m_savedStates;
    // Released in reverse: the annotation loader's thread ends before the data-access
    // object it edits goes.
    boost::shared_ptr<CPssiXmlDao> m_dao;
    boost::shared_ptr<CJ2KImageLoaderMgr> m_loaderMgr;
    boost::shared_ptr<CJ2KAnnotationLoader> m_annotationLoader;
    int32_t m_workingTool = 0;
    COrbelViewer* m_owner;
    int32_t m_wheelStep = 2;
    int32_t m_magnification = 2;
};
