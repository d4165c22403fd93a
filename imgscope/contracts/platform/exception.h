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
    // An exception meant for `throw new …`: Delete() frees it.
    CException() = default;
    // With `autoDelete` false the object lives elsewhere (on the stack, as
    // a member, as a shared instance) and Delete() leaves it alone, so a
    // catcher that always calls Delete() is safe for both kinds.
    explicit CException(bool autoDelete) : m_bAutoDelete(autoDelete) {}
    ~CException() override;
    // Frees an exception allocated with new; does nothing for one made
    // with autoDelete false.
    void Delete();

protected:
    CException(CException const&) = default;
    CException& operator=(CException const&) = default;

private:
    bool m_bAutoDelete = true;
};
