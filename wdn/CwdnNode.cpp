#include <wdn/CwdnEdge.h>
#include <wdn/CwdnNode.h>

CwdnNode::~CwdnNode() = default;
CwdnEdge::~CwdnEdge() = default;
