#include "imgscope/contracts/platform/exception.h"

CObject::~CObject() = default;

CException::~CException() = default;

void CException::Delete()
{
    if (m_bAutoDelete)
        delete this;
}
