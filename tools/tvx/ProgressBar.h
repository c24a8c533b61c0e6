#pragma once

// A progress bar on standard error while the tree of a large mesh builds.
//
// The tool hands one to makeCollisionEntity; the tree builder reports every
// finished node (a tree over n triangles has n - 1 of them), and the bar
// redraws only when the shown percentage changes, so the cost per node is a
// counter increment. The bar draws only when standard error is a terminal:
// logs and pipes stay clean. finish() erases it.

#include <tvx/progress/CtvxProgressDelegate.h>

#include <string>

namespace tvxcli {

class ProgressBar : public CtvxProgressDelegate {
public:
    // enabled: draw at all (the caller decides, typically isatty(2)).
    ProgressBar(std::string label, unsigned int triangleCount, bool enabled);
    ~ProgressBar() override;

    void didMakeCollisionEntity(boost::shared_ptr<CtvxObject> const& object, unsigned int triangleCount) override;
    void didBuildNode(unsigned int firstTrianglePosition) override;
    void willBuildTree(unsigned int triangleCount) override;
    void resetProgress(unsigned int value) override;

    // Clears the bar from the terminal.
    void finish();

    unsigned long long nodesBuilt() const { return m_nodes; }
    unsigned int entitiesMade() const { return m_entities; }

    // Whether a bar is worth drawing for a mesh this size on this stream.
    static bool wanted(unsigned int triangleCount);

private:
    void draw(int percent);

    std::string m_label;
    unsigned long long m_expected;
    unsigned long long m_nodes = 0;
    unsigned int m_entities = 0;
    int m_shown = -1;
    bool m_enabled;
    bool m_drawn = false;
};

} // namespace tvxcli
