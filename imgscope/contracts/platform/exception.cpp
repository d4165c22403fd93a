#include "imgscope/contracts/platform/exception.h"

CObject::~CObject() = default;

CException::~CException() = default;

void CException::Delete()
{
    delete this;
}
