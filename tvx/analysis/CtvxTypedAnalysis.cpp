#include <tvx/analysis/CtvxTypedAnalysis.h>

CtvxTypedAnalysis::~CtvxTypedAnalysis() = default;
