// Uses the installed headers and libraries only.
#include <tvx/tvx.h>

#include <cstdio>

int main()
{
    boost::shared_ptr<CtvxPolyhedronData> data = CtvxPolyhedronData::create();
    unsigned int rank = 0;
    data->addPoint(0.0f, 0.0f, 0.0f, rank);
    data->addPoint(1.0f, 0.0f, 0.0f, rank);
    data->addPoint(0.0f, 1.0f, 0.0f, rank);
    data->addTriangle(0, 1, 2, rank);

    CtvxMat4 m;
    m.rotateZ(0.5f);
    bool const ok = data->countTriangles() == 1 && m.isTransRot() && data->className() == "CtvxPolyhedronData";
    std::printf("consumer: %s\n", ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}
