#pragma once

#include <cstdint>
#include <vector>

// A dynamic tree of axis-aligned boxes, one leaf per item, for the broad
// phase of the analysis.
//
// Leaves are inserted where they enlarge the tree least (by surface area)
// and the tree is rebalanced by rotations on the way back up, so that it
// stays shallow whatever the order of insertions; an item that moved is
// removed and inserted again. Nodes live in one array with a free list:
// once the array has grown to the number of items, inserting, removing and
// querying allocate nothing. The walks keep their pending nodes in arrays
// owned by the tree and call a visitor for every overlapping leaf or pair of
// leaves, in no particular order. Boxes are closed: boxes that touch
// overlap. Not thread-safe: a tree serves one analysis.
class CtvxBoxTree {
public:
    static constexpr int kNone = -1;

    struct Box {
        float lo[3];
        float hi[3];
    };

    // Returns the leaf, to be passed to remove() and box().
    int insert(unsigned int item, Box const& box);
    // Replaces the whole tree by one built top down over the items (split
    // at the median of the box centres along the widest spread), far
    // quicker than inserting them one by one; leaves[k] receives item k's
    // leaf.
    void build(std::vector<unsigned int> const& items, std::vector<Box> const& boxes, std::vector<int>& leaves);
    void remove(int leaf);
    // Gives the leaf a new box where it stands, its ancestors refitted
    // (no descent, no rotation): cheaper than removing and inserting it,
    // the tree's shape left as it was.
    void refit(int leaf, Box const& box);
    // Removes every leaf; the arrays keep their capacity.
    void clear();

    Box const& box(int leaf) const { return m_nodes[static_cast<std::size_t>(leaf)].box; }
    int height() const { return m_root == kNone ? 0 : m_links[static_cast<std::size_t>(m_root)].height; }
    // Bytes held, walks' stacks included.
    std::size_t bytes() const
    {
        return m_nodes.capacity() * sizeof(Node) + m_links.capacity() * sizeof(Link) +
               m_stack.capacity() * sizeof(int) + m_order.capacity() * sizeof(Centre) +
               m_pairStack.items.capacity() * sizeof(std::pair<int, int>);
    }

    // visit(item) for every leaf whose box overlaps box.
    template <class Visit>
    void query(Box const& box, Visit&& visit);
    // visit(itemA, itemB) once for every unordered pair of distinct leaves
    // whose boxes overlap.
    template <class Visit>
    void selfPairs(Visit&& visit);
    // visit(item of this tree, item of other) for every pair of overlapping
    // leaves, one from each tree.
    template <class Visit>
    void pairs(CtvxBoxTree const& other, Visit&& visit);

    static bool overlap(Box const& a, Box const& b)
    {
        return a.lo[0] <= b.hi[0] && b.lo[0] <= a.hi[0] && a.lo[1] <= b.hi[1] && b.lo[1] <= a.hi[1] &&
               a.lo[2] <= b.hi[2] && b.lo[2] <= a.hi[2];
    }
    static bool contains(Box const& outer, Box const& inner)
    {
        return outer.lo[0] <= inner.lo[0] && outer.lo[1] <= inner.lo[1] && outer.lo[2] <= inner.lo[2] &&
               inner.hi[0] <= outer.hi[0] && inner.hi[1] <= outer.hi[1] && inner.hi[2] <= outer.hi[2];
    }

private:
    // What the walks read, two nodes to a cache line: the box and the
    // children. A leaf has child1 == kNone and keeps its item in child2.
    struct Node {
        Box box;
        int child1;
        int child2;
    };
    static_assert(sizeof(Node) == 32, "tree nodes are packed to 32 bytes");
    // What only the edits read, beside: the parent (for a free node, the
    // next free node) and the height (-1 for a free node).
    struct Link {
        int parent;
        int height;
    };

    bool isLeaf(int n) const { return m_nodes[static_cast<std::size_t>(n)].child1 == kNone; }
    Node& node(int n) { return m_nodes[static_cast<std::size_t>(n)]; }
    Node const& node(int n) const { return m_nodes[static_cast<std::size_t>(n)]; }
    Link& link(int n) { return m_links[static_cast<std::size_t>(n)]; }
    int allocate();
    void release(int n);
    void insertLeaf(int leaf);
    void removeLeaf(int leaf);
    // Refits and rebalances from n up to the root.
    void refitUp(int n);
    int balance(int a);
    // An item being built over, with its box's centre (doubled: lo + hi),
    // packed so that the build's partitions read no box.
    struct Centre {
        float c[3];
        unsigned int item;
    };
    int buildRange(Centre* first, Centre* last, std::vector<Box> const& boxes, std::vector<int>& leaves);
    // Points the parent of old (or the root) at replacement instead.
    void replaceChild(int parent, int old, int replacement);
    // The pairs of overlapping leaves of this tree and other (this one's
    // own pairs when other is this tree).
    template <class Visit>
    void walkPairs(CtvxBoxTree const& other, Visit& visit);
    static Box merged(Box const& a, Box const& b);
    static float area(Box const& b);
    // Half the sum of the edges: which of two nodes to split in the walks.
    static float span(Box const& b) { return b.hi[0] - b.lo[0] + b.hi[1] - b.lo[1] + b.hi[2] - b.lo[2]; }

    std::vector<Node> m_nodes;
    std::vector<Link> m_links;
    int m_root = kNone;
    int m_free = kNone;
    // The walks' pending nodes and node pairs. Pushed through push(), which
    // grows the arrays geometrically and otherwise writes in place: the
    // walks push on every step and must not pay a call each time.
    struct PairStack {
        std::vector<std::pair<int, int>> items;
        std::size_t top = 0;
        void push(int a, int b)
        {
            if (top == items.size())
                items.resize(items.empty() ? 64 : 2 * items.size());
            items[top++] = std::pair<int, int>(a, b);
        }
        std::pair<int, int> pop() { return items[--top]; }
    };
    std::vector<int> m_stack;
    PairStack m_pairStack;
    // The items being built over, reordered in place by the build.
    std::vector<Centre> m_order;
};

template <class Visit>
void CtvxBoxTree::query(Box const& box, Visit&& visit)
{
    if (m_root == kNone)
        return;
    m_stack.clear();
    m_stack.push_back(m_root);
    while (!m_stack.empty()) {
        int const n = m_stack.back();
        m_stack.pop_back();
        Node const& nd = node(n);
        if (!overlap(nd.box, box))
            continue;
        if (nd.child1 == kNone) {
            visit(static_cast<unsigned int>(nd.child2));
        } else {
            m_stack.push_back(nd.child1);
            m_stack.push_back(nd.child2);
        }
    }
}

template <class Visit>
void CtvxBoxTree::selfPairs(Visit&& visit)
{
    walkPairs(*this, visit);
}

template <class Visit>
void CtvxBoxTree::pairs(CtvxBoxTree const& other, Visit&& visit)
{
    walkPairs(other, visit);
}

template <class Visit>
void CtvxBoxTree::walkPairs(CtvxBoxTree const& other, Visit& visit)
{
    if (m_root == kNone || other.m_root == kNone)
        return;
    // Within one tree, a pending (n, n) stands for the pairs inside n's
    // subtree, (a, b) with a != b for the pairs across two disjoint
    // subtrees.
    bool const self = &other == this;
    m_pairStack.top = 0;
    m_pairStack.push(m_root, other.m_root);
    while (m_pairStack.top > 0) {
        std::pair<int, int> const p = m_pairStack.pop();
        Node const& a = node(p.first);
        if (self && p.first == p.second) {
            if (a.child1 == kNone)
                continue;
            m_pairStack.push(a.child1, a.child1);
            m_pairStack.push(a.child2, a.child2);
            m_pairStack.push(a.child1, a.child2);
            continue;
        }
        Node const& b = other.node(p.second);
        if (!overlap(a.box, b.box))
            continue;
        bool const leafA = a.child1 == kNone, leafB = b.child1 == kNone;
        if (leafA && leafB) {
            visit(static_cast<unsigned int>(a.child2), static_cast<unsigned int>(b.child2));
        } else if (leafB || (!leafA && span(a.box) >= span(b.box))) {
            m_pairStack.push(a.child1, p.second);
            m_pairStack.push(a.child2, p.second);
        } else {
            m_pairStack.push(p.first, b.child1);
            m_pairStack.push(p.first, b.child2);
        }
    }
}
