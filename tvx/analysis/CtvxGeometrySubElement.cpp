#include <tvx/analysis/CtvxGeometrySubElement.h>

CtvxGeometrySubElement::~CtvxGeometrySubElement() = default;
