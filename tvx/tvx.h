#pragma once

// The whole public interface of libtvx.

#include <tvx/tvxExport.h>

#include <qar/CqarLogManager.h>
#include <qar/CqarMat4.h>
#include <qar/CqarQuatF.h>
#include <qar/CqarVect3.h>

#include <tvx/math/CtvxMat4.h>
#include <tvx/math/CtvxPoint.h>
#include <tvx/math/CtvxTriangle.h>

#include <tvx/geometry/CtvxPolyhedronData.h>
