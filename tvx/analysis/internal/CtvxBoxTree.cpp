#include <tvx/analysis/internal/CtvxBoxTree.h>

#include <algorithm>
#include <cstring>

CtvxBoxTree::Box CtvxBoxTree::merged(Box const& a, Box const& b)
{
    Box m;
    for (int k = 0; k < 3; ++k) {
        m.lo[k] = std::min(a.lo[k], b.lo[k]);
        m.hi[k] = std::max(a.hi[k], b.hi[k]);
    }
    return m;
}

// Half the surface area: what the insertion minimises, since the chance that
// a box of a random query hits a node grows with the node's surface.
float CtvxBoxTree::area(Box const& b)
{
    float const x = b.hi[0] - b.lo[0], y = b.hi[1] - b.lo[1], z = b.hi[2] - b.lo[2];
    return x * y + y * z + z * x;
}

int CtvxBoxTree::allocate()
{
    if (m_free != kNone) {
        int const n = m_free;
        m_free = link(n).parent;
        return n;
    }
    m_nodes.push_back(Node());
    m_links.push_back(Link());
    return static_cast<int>(m_nodes.size()) - 1;
}

void CtvxBoxTree::release(int n)
{
    Node& nd = node(n);
    nd.child1 = kNone;
    nd.child2 = kNone;
    link(n).parent = m_free;
    link(n).height = -1;
    m_free = n;
}

int CtvxBoxTree::insert(unsigned int item, Box const& box)
{
    int const leaf = allocate();
    Node& nd = node(leaf);
    nd.box = box;
    nd.child1 = kNone;
    nd.child2 = static_cast<int>(item);
    link(leaf).parent = kNone;
    link(leaf).height = 0;
    insertLeaf(leaf);
    return leaf;
}

void CtvxBoxTree::build(std::vector<unsigned int> const& items, std::vector<Box> const& boxes,
                        std::vector<int>& leaves)
{
    clear();
    if (items.empty())
        return;
    m_nodes.reserve(2 * items.size() - 1);
    m_links.reserve(2 * items.size() - 1);
    m_order.resize(items.size());
    for (std::size_t k = 0; k < items.size(); ++k) {
        Box const& b = boxes[items[k]];
        m_order[k] = Centre{{b.lo[0] + b.hi[0], b.lo[1] + b.hi[1], b.lo[2] + b.hi[2]}, items[k]};
    }
    m_root = buildRange(m_order.data(), m_order.data() + m_order.size(), boxes, leaves);
    link(m_root).parent = kNone;
}

int CtvxBoxTree::buildRange(Centre* first, Centre* last, std::vector<Box> const& boxes, std::vector<int>& leaves)
{
    if (last - first == 1) {
        unsigned int const item = first->item;
        int const leaf = allocate();
        Node& nd = node(leaf);
        nd.box = boxes[item];
        nd.child1 = kNone;
        nd.child2 = static_cast<int>(item);
        link(leaf).height = 0;
        leaves[item] = leaf;
        return leaf;
    }
    float lo[3] = {first->c[0], first->c[1], first->c[2]};
    float hi[3] = {lo[0], lo[1], lo[2]};
    for (Centre const* i = first; i != last; ++i) {
        for (int k = 0; k < 3; ++k) {
            lo[k] = std::min(lo[k], i->c[k]);
            hi[k] = std::max(hi[k], i->c[k]);
        }
    }
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (hi[k] - lo[k] > hi[axis] - lo[axis])
            axis = k;
    Centre* const mid = first + (last - first) / 2;
    std::nth_element(first, mid, last, [axis](Centre const& a, Centre const& b) { return a.c[axis] < b.c[axis]; });
    int const c1 = buildRange(first, mid, boxes, leaves);
    int const c2 = buildRange(mid, last, boxes, leaves);
    int const n = allocate();
    Node& nd = node(n);
    nd.child1 = c1;
    nd.child2 = c2;
    nd.box = merged(node(c1).box, node(c2).box);
    link(n).height = 1 + std::max(link(c1).height, link(c2).height);
    link(c1).parent = n;
    link(c2).parent = n;
    return n;
}

void CtvxBoxTree::remove(int leaf)
{
    removeLeaf(leaf);
    release(leaf);
}

void CtvxBoxTree::refit(int leaf, Box const& box)
{
    node(leaf).box = box;
    for (int n = link(leaf).parent; n != kNone; n = link(n).parent) {
        Node& nd = node(n);
        Box const b = merged(node(nd.child1).box, node(nd.child2).box);
        if (std::memcmp(&b, &nd.box, sizeof b) == 0)
            break; // the boxes above hold it already
        nd.box = b;
    }
}

void CtvxBoxTree::clear()
{
    m_nodes.clear();
    m_links.clear();
    m_root = kNone;
    m_free = kNone;
}

void CtvxBoxTree::insertLeaf(int leaf)
{
    if (m_root == kNone) {
        m_root = leaf;
        link(leaf).parent = kNone;
        return;
    }
    // Branch and bound down the tree: at each node, compare the cost of
    // pairing the leaf with the node itself (a new parent of both) with the
    // least cost of going down either child, each including the growth the
    // leaf forces on the nodes above.
    Box const leafBox = node(leaf).box;
    int index = m_root;
    while (!isLeaf(index)) {
        Node const& n = node(index);
        float const here = area(n.box);
        float const combined = area(merged(n.box, leafBox));
        float const cost = 2.0f * combined;
        float const inherited = 2.0f * (combined - here);
        float childCost[2];
        int const children[2] = {n.child1, n.child2};
        for (int k = 0; k < 2; ++k) {
            Node const& c = node(children[k]);
            float const grown = area(merged(c.box, leafBox));
            childCost[k] = (c.child1 == kNone ? grown : grown - area(c.box)) + inherited;
        }
        if (cost < childCost[0] && cost < childCost[1])
            break;
        index = childCost[0] < childCost[1] ? children[0] : children[1];
    }

    int const sibling = index;
    int const parent = allocate(); // may move the arrays: no references across it
    int const oldParent = link(sibling).parent;
    Node& p = node(parent);
    p.box = merged(leafBox, node(sibling).box);
    p.child1 = sibling;
    p.child2 = leaf;
    link(parent).parent = oldParent;
    link(parent).height = link(sibling).height + 1;
    replaceChild(oldParent, sibling, parent);
    link(sibling).parent = parent;
    link(leaf).parent = parent;
    refitUp(oldParent);
}

void CtvxBoxTree::removeLeaf(int leaf)
{
    if (leaf == m_root) {
        m_root = kNone;
        return;
    }
    int const parent = link(leaf).parent;
    int const grand = link(parent).parent;
    int const sibling = node(parent).child1 == leaf ? node(parent).child2 : node(parent).child1;
    replaceChild(grand, parent, sibling);
    link(sibling).parent = grand;
    release(parent);
    refitUp(grand);
}

void CtvxBoxTree::replaceChild(int parent, int old, int replacement)
{
    if (parent == kNone) {
        m_root = replacement;
        return;
    }
    Node& p = node(parent);
    if (p.child1 == old)
        p.child1 = replacement;
    else
        p.child2 = replacement;
}

void CtvxBoxTree::refitUp(int n)
{
    while (n != kNone) {
        n = balance(n);
        Node& nd = node(n);
        link(n).height = 1 + std::max(link(nd.child1).height, link(nd.child2).height);
        nd.box = merged(node(nd.child1).box, node(nd.child2).box);
        n = link(n).parent;
    }
}

// One rotation when a's children differ in height by more than one: the
// taller child takes a's place and a takes the shorter of its grandchildren.
// Returns the node now in a's place.
int CtvxBoxTree::balance(int ia)
{
    Node& a = node(ia);
    if (a.child1 == kNone || link(ia).height < 2)
        return ia;
    int const ib = a.child1, ic = a.child2;
    int const skew = link(ic).height - link(ib).height;
    if (skew > 1 || skew < -1) {
        // up: the taller child, which rises; keep: the other child of a.
        int const iup = skew > 1 ? ic : ib;
        int const ikeep = skew > 1 ? ib : ic;
        Node& up = node(iup);
        int const i1 = up.child1, i2 = up.child2;
        int const upParent = link(ia).parent;
        up.child1 = ia;
        link(iup).parent = upParent;
        link(ia).parent = iup;
        replaceChild(upParent, ia, iup);
        // The taller grandchild stays with up, the shorter goes to a in
        // the place up left.
        bool const firstTaller = link(i1).height > link(i2).height;
        int const stay = firstTaller ? i1 : i2, go = firstTaller ? i2 : i1;
        up.child2 = stay;
        if (skew > 1)
            a.child2 = go;
        else
            a.child1 = go;
        link(go).parent = ia;
        a.box = merged(node(ikeep).box, node(go).box);
        link(ia).height = 1 + std::max(link(ikeep).height, link(go).height);
        up.box = merged(a.box, node(stay).box);
        link(iup).height = 1 + std::max(link(ia).height, link(stay).height);
        return iup;
    }
    return ia;
}
