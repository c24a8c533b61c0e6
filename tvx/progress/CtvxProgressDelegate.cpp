#include <tvx/progress/CtvxProgressDelegate.h>

boost::shared_ptr<CtvxProgressDelegate> s_defaultDelegate;
boost::shared_ptr<CtvxProgressDelegate> s_defaultNullDelegate;

CtvxProgressDelegate::~CtvxProgressDelegate() = default;
