#include "ProgressBar.h"

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace tvxcli {

namespace {
// Below this many triangles a tree builds in a few milliseconds: a bar would
// only flicker.
constexpr unsigned int kBarMinTriangles = 50000;
constexpr int kBarWidth = 40;
} // namespace

ProgressBar::ProgressBar(std::string label, unsigned int triangleCount, bool enabled)
    : m_label(std::move(label)), m_expected(triangleCount > 1 ? triangleCount - 1u : 1u), m_enabled(enabled)
{
}

ProgressBar::~ProgressBar() = default;

bool ProgressBar::wanted(unsigned int triangleCount)
{
    return triangleCount >= kBarMinTriangles && isatty(STDERR_FILENO) == 1;
}

void ProgressBar::didMakeCollisionEntity(boost::shared_ptr<CtvxObject> const&, unsigned int)
{
    ++m_entities;
}

void ProgressBar::didBuildNode(unsigned int)
{
    ++m_nodes;
    if (!m_enabled)
        return;
    int const percent = static_cast<int>(std::min<unsigned long long>(100, m_nodes * 100 / m_expected));
    if (percent != m_shown)
        draw(percent);
}

void ProgressBar::willBuildTree(unsigned int triangleCount)
{
    m_expected = triangleCount > 1 ? triangleCount - 1u : 1u;
}

void ProgressBar::resetProgress(unsigned int)
{
    m_nodes = 0;
    m_shown = -1;
}

void ProgressBar::draw(int percent)
{
    m_shown = percent;
    int const filled = percent * kBarWidth / 100;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    std::fprintf(stderr, "\r%s [%s] %3d%%", m_label.c_str(), bar.c_str(), percent);
    std::fflush(stderr);
    m_drawn = true;
}

void ProgressBar::finish()
{
    if (m_drawn) {
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_label.size()) + kBarWidth + 8, "");
        std::fflush(stderr);
        m_drawn = false;
    }
}

} // namespace tvxcli
