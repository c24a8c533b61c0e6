#include <tvx/bvtree/CtvxTreeFactory.h>

CtvxTreeFactory::~CtvxTreeFactory() = default;
