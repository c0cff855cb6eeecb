// One grid on the real road: the loopback JPIP server serving grid_fixture.py's images,
// a PSSI document naming them, a top-level frame window with a sub-frame and one grid at
// its client origin. The test thread is the user-interface thread; it pumps until a
// condition holds and moves the manual clock on whenever it is idle, never sleeping.
#pragma once

#include "R2IVuzi/J2KFrame.h"
#include "R2IVuzi/J2KGrid.h"
#include "R2IVuzi/J2KGridHangingStackManager.h"
#include "R2IVuzi/J2KSubFrame.h"
#include "tests/support/JpipTestServer.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gridtest {

// Runs a fixture script of tests/R2IVuzi into `folder` of the working directory and
// loads the module's start-up values; the folder's path, or empty when the script failed.
std::string makeFixture(const std::string& script, const std::string& folder);
// grid_fixture.py's folder, made once per test program; empty when it failed.
const std::string& corpusDir();
// Loads the module's start-up values and installs its codec-error chain, as the control
// does, unless the module is loaded already; false when loading failed.
bool loadModule();

// Loads the module afresh for one test and, at its end, puts back what the test found:
// the module loaded with its error chain, or not loaded. A test that unloads the module
// would otherwise leave every later test of the program without it.
class FreshModule {
public:
    FreshModule();
    ~FreshModule();
    FreshModule(const FreshModule&) = delete;
    FreshModule& operator=(const FreshModule&) = delete;
    bool loaded() const { return loaded_; }

private:
    bool wasLoaded_;
    bool loaded_ = false;
};

// A grid that records what the handlers under test hand on.
class RecordingGrid : public CJ2KGrid {
public:
    using CJ2KGrid::CJ2KGrid;
    int arrivals = 0;
    int steps = 0;
    int presentations = 0;
    // Repaints from decode steps, and per step how many (with the arrivals then).
    int increments = 0;
    std::vector<std::pair<int, int>> stepIncrements;
    std::vector<std::string> openStreamErrors;
    // Whether failed opens also go on to the grid's own handling (retry or give up).
    bool handleOpenErrors = false;
    // Failure reports (WM_APP + 6) received.
    int errorReports = 0;
    // The arrivals count when a posted WM_APP + 100 was handled (-1: not yet).
    int testMessageArrivals = -1;
    LRESULT ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, bool& handled) override;
    // Runs after each decode step, with the step's number.
    std::function<void(int)> afterStep;

    void decodeStep() override;
    void handleOpenStreamError(std::unique_ptr<CJ2KException> error) override;
    LRESULT OnDataArrived(const std::string& target, const int region[5]) override;
    LRESULT OnPaint(bool refresh) override;
    using CJ2KGrid::OnStartProcess;
    using CJ2KGrid::OnTimer;

protected:
    LRESULT OnStartPresentation(const std::string& target) override;
};

class GridHarness {
public:
    // A cell of width x height; serverArgs go to the server's `serve`.
    explicit GridHarness(int width = 240, int height = 180, const std::vector<std::string>& serverArgs = {},
                         bool annotated = true, const std::string& root = corpusDir());
    ~GridHarness();

    // The item of image n (1-based, as in the served names 1_1_1_n).
    HangingItem item(int n);
    // Shows image n and waits until its first view has ended and the loader is ready.
    bool show(int n);
    // Pumps, advancing the clock 100 ms whenever idle, until the grid has seen `arrivals`
    // end-of-request messages in all and both its timers are stopped; false after 120 s.
    bool settle(int arrivals);
    // Settles the request a view change may just have posted (it started the animation).
    bool settleView() { return settle(grid->arrivals + (grid->getAnimationTimer() ? 1 : 0)); }
    bool until(const std::function<bool()>& condition);
    void paint();
    // Server records of the given kind ("open", "roi", ...).
    std::vector<std::string> serverLines(const std::string& contains) const;

    std::unique_ptr<OrbelTest::JpipTestServer> server;
    boost::shared_ptr<CJ2KFrame> frame;
    boost::shared_ptr<CJ2KSubFrame> subFrame;
    boost::shared_ptr<RecordingGrid> grid;
    std::vector<TiXmlNode*> images;

private:
    // The harness moves the manual clock; a test that found the real clock gets it back.
    bool clockWasManual_;
};

} // namespace gridtest
