#pragma once

#include <tvx/progress/CtvxProgressDelegate.h>

#include <boost/shared_ptr.hpp>

#include <string>
#include <vector>

namespace tvxtest {

// A progress delegate that writes down every notification in order, as
// text ("node 3", "entity 12", "will 7", "reset 0") and, for didBuildNode,
// also as the bare list of values.
class RecordingDelegate : public CtvxProgressDelegate {
public:
    static boost::shared_ptr<RecordingDelegate> create() { return boost::shared_ptr<RecordingDelegate>(new RecordingDelegate()); }

    void didMakeCollisionEntity(boost::shared_ptr<CtvxObject> const& object, unsigned int triangleCount) override
    {
        events.push_back("entity " + std::to_string(triangleCount));
        madeObjects.push_back(object.get());
    }
    void didBuildNode(unsigned int first) override
    {
        events.push_back("node " + std::to_string(first));
        nodes.push_back(first);
    }
    void willBuildTree(unsigned int triangleCount) override
    {
        events.push_back("will " + std::to_string(triangleCount));
    }
    void resetProgress(unsigned int value) override { events.push_back("reset " + std::to_string(value)); }

    std::vector<std::string> events;
    std::vector<unsigned int> nodes;
    // The objects of didMakeCollisionEntity, in order.
    std::vector<CtvxObject const*> madeObjects;

protected:
    RecordingDelegate() = default;
};

} // namespace tvxtest
