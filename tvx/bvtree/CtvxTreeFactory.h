#pragma once

#include <tvx/tvxExport.h>

#include <boost/shared_ptr.hpp>

class CtvxPoly;
class CtvxProgressDelegate;

// The interface of a tree builder: fill the tree that a triangle set already
// owns, reporting each finished node to the delegate (which may be empty).
class TVX_API CtvxTreeFactory {
public:
    CtvxTreeFactory(CtvxTreeFactory const&) = delete;
    CtvxTreeFactory& operator=(CtvxTreeFactory const&) = delete;

    virtual void build(boost::shared_ptr<CtvxPoly>& poly, boost::shared_ptr<CtvxProgressDelegate>& delegate) = 0;
    virtual ~CtvxTreeFactory();

protected:
    CtvxTreeFactory() = default;
};
