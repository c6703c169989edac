#pragma once

// Copyable settings objects. Assign asks the source to copy itself into this
// object; a class that does not know the destination falls through to the
// conversion error, so copying between unrelated classes never half-succeeds.
class TPersistent {
public:
    virtual ~TPersistent() = default;

    virtual const char* ClassName() const = 0;
    void Assign(const TPersistent& source) { source.AssignTo(*this); }

protected:
    TPersistent() = default;
    TPersistent(const TPersistent&) = default;
    TPersistent& operator=(const TPersistent&) = default;

    virtual void AssignTo(TPersistent& dest) const;
    // Raises "Cannot assign a <source class> to a <this class>".
    [[noreturn]] void AssignError(const TPersistent& source) const;
};
