// The framework's object and exception bases.
#pragma once

#include "imgscope/library/export.h"

// Root of the framework's class tree.
class IMGSCOPE_API CObject {
public:
    virtual ~CObject();
};

// Base of exceptions thrown by pointer. Whoever catches one owns it and
// releases it with Delete(), never with delete.
class IMGSCOPE_API CException : public CObject {
public:
    CException() = default;
    ~CException() override;
    // Frees an exception allocated with new.
    void Delete();

protected:
    CException(CException const&) = default;
    CException& operator=(CException const&) = default;
};
