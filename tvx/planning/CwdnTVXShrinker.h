#pragma once

#include <tvx/tvxExport.h>

#include <wdn/CwdnRdmBuilderDelegate.h>

#include <boost/shared_ptr.hpp>
#include <boost/weak_ptr.hpp>

class CwdnConfig;
class CwdnConfigExtractor;
class CwdnDevice;
class CwdnPath;
class CwdnPathOptimizer;
class CwdnRoadmapBuilder;
class CwdnTVXBody;

// Solves planning problems that fail or stall at full size on shrunk
// geometry.
//
// Configure it once (a roadmap builder, a mode, the factor applied at each
// shrinking step, a difficulty threshold, optionally a configuration
// extractor and a path optimizer), then call solveProblem as often as
// needed. While it solves, it is the builder's delegate: it stops a search
// whose difficulty reaches the threshold and passes every other
// notification on to the delegate that was installed before. Depending on
// the mode it scales the inner objects of every CwdnTVXBody of the device
// about their joints, step after step, until a search succeeds; then it
// restores the geometry at once, clears what the builder learned on the
// shrunk geometry, and joins the path found to the extraction motions at
// both ends. The path is found on shrunk geometry: at full size it may come
// closer to the obstacles than the shrinking allowed for.
//
// maxSteps() bounds the number of loop turns (default 100, about a third
// of the original size at the default factor 0.99), so that a solve always
// ends. A factor that is not a positive number cannot be undone and makes
// the shrinking step fail.
class TVX_API CwdnTVXShrinker : public CwdnRdmBuilderDelegate {
public:
    enum EMode { NO_SHRINKING = 0, SHRINK_WHEN_NEEDED = 1, SHRINK_FIRST = 2, SHRINK_ONCE = 3 };

    static boost::shared_ptr<CwdnTVXShrinker> create();

    CwdnTVXShrinker(CwdnTVXShrinker const&) = default;
    CwdnTVXShrinker& operator=(CwdnTVXShrinker const&) = default;

    void mode(EMode m) { m_mode = m; }
    EMode mode() const { return m_mode; }
    void difficultyTreshold(double t) { m_difficultyTreshold = t; }
    double difficultyTreshold() const { return m_difficultyTreshold; }
    void scale(double s) { m_scale = s; }
    double scale() const { return m_scale; }
    void optimizesBeforeUnshrinking(bool b) { m_optimizesBeforeUnshrinking = b; }
    bool optimizesBeforeUnshrinking() const { return m_optimizesBeforeUnshrinking; }
    void builder(boost::shared_ptr<CwdnRoadmapBuilder> const& b) { m_builder = b; }
    boost::shared_ptr<CwdnRoadmapBuilder> builder() const { return m_builder; }
    void pathOptimizer(boost::shared_ptr<CwdnPathOptimizer> const& o) { m_pathOptimizer = o; }
    boost::shared_ptr<CwdnPathOptimizer> pathOptimizer() const { return m_pathOptimizer; }
    void configExtractor(boost::shared_ptr<CwdnConfigExtractor> const& x) { m_configExtractor = x; }
    boost::shared_ptr<CwdnConfigExtractor> configExtractor() const { return m_configExtractor; }
    void maxSteps(unsigned int n) { m_maxSteps = n; }
    unsigned int maxSteps() const { return m_maxSteps; }

    // The number of loop turns of the last solve and the scale reached
    // before restoring.
    unsigned int currentStep() const { return m_currentStep; }
    double currentScale() const { return m_currentScale; }

    // 0 and path = the complete path from start to goal, or non-zero (path
    // as the builder left it). path must hold a path on entry: its device
    // is the device whose geometry is shrunk. -1 without a builder, without
    // a path or device, or when optimizing before unshrinking is asked for
    // without an optimizer (nothing is touched then).
    int solveProblem(CwdnConfig const& start, CwdnConfig const& goal, boost::shared_ptr<CwdnPath>& path);

protected:
    CwdnTVXShrinker();
    ~CwdnTVXShrinker() override;

    void willStartBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                           boost::shared_ptr<CwdnPath>& path) override;
    void didFinishBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                           boost::shared_ptr<CwdnPath>& path, int result) override;
    bool shouldStopBuilding(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder) override;
    bool shouldExploreTowards(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                              CwdnConfig const& config) override;
    void didAddNode(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                    boost::shared_ptr<CwdnNode const> const& node) override;
    void didAddEdge(boost::shared_ptr<CwdnRoadmapBuilder const> const& builder,
                    boost::shared_ptr<CwdnEdge const> const& edge) override;

    int shrinkDevice(boost::shared_ptr<CwdnDevice> const& device, double factor);
    int shrinkBody(boost::shared_ptr<CwdnTVXBody> const& body, double factor);

private:
    // The destructor is protected: shared pointers delete through this.
    static void destroy(CwdnTVXShrinker* s) { delete s; }
    void invariant() const {}
    bool shrinksOnDifficulty() const { return m_mode == SHRINK_FIRST || m_mode == SHRINK_WHEN_NEEDED; }

    boost::weak_ptr<CwdnTVXShrinker> m_shrinkerWkPtr;
    boost::shared_ptr<CwdnRoadmapBuilder> m_builder;
    boost::shared_ptr<CwdnConfigExtractor> m_configExtractor;
    boost::shared_ptr<CwdnPathOptimizer> m_pathOptimizer;
    double m_difficultyTreshold = 0.0;
    double m_scale = 0.99;
    bool m_optimizesBeforeUnshrinking = false;
    EMode m_mode = NO_SHRINKING;
    unsigned int m_currentStep = 0;
    double m_currentScale = 1.0;
    CwdnRdmBuilderDelegate* m_previousDelegate = nullptr;
    bool m_isTooDifficult = false;
    unsigned int m_maxSteps = 100;
};
