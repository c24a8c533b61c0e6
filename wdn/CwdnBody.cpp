#include <wdn/CwdnBody.h>
#include <wdn/CwdnJoint.h>

CwdnBody::CwdnBody() = default;

CwdnBody::~CwdnBody() = default;

int CwdnBody::init(boost::weak_ptr<CwdnBody> const& self)
{
    if (self.expired()) {
        return -1;
    }
    m_self = self;
    return 0;
}

void CwdnBody::updateAbsolutePosition()
{
    boost::shared_ptr<CwdnJoint> const j = m_joint.lock();
    if (!j) {
        return;
    }
    m_absolutePosition = j->currentPosition();
    placeBody(m_absolutePosition);
}
