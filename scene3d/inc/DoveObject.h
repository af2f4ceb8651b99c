// The root of every engine object: an intrusive reference count, and the named scene object.
#ifndef DOVE_OBJECT_H
#define DOVE_OBJECT_H

#include <cstdint>
#include <string>

namespace Dove {

class Node;

// Counts holders. release() deletes nothing: whoever sees the count reach 0 destroys the object.
class Refcount {
public:
    Refcount() = default;
    Refcount(const Refcount&) : mRef(0) {}
    Refcount& operator=(const Refcount&) { return *this; }
    virtual ~Refcount() = default;

    virtual uint32_t addRef() { return ++mRef; }
    virtual uint32_t release() { return mRef == 0 ? 0 : --mRef; }
    virtual uint32_t getRef() const { return mRef; }

private:
    uint32_t mRef = 0;
};

// Builds "<prefix><n>" with n the counter's next value.
std::string makeGeneratedName(const char* prefix, uint32_t& counter);

class Object : public Refcount {
public:
    // The name is not stored here: each derived constructor names the object itself.
    explicit Object(const std::string& name = std::string()) { (void)name; }

    const std::string& getName() const { return mName; }
    void setName(const std::string& name) { mName = name; }
    const std::string& getOriginalName() const { return mOriginalName; }
    void setOriginalName(const std::string& name) { mOriginalName = name; }
    long getVisible() const { return mVisible; }
    void setVisible(long visible) { mVisible = visible; }
    Node* getParentNode() const { return mParentNode; }
    void setParentNode(Node* node) { mParentNode = node; }
    void InitParam() {
        mVisible = 1;
        mParentNode = nullptr;
    }

    static uint32_t& nameIndex();  // the context's counter for generated names

protected:
    // A non-empty name is used as given; the empty name becomes prefix + the next counter value.
    void nameObject(const std::string& name, const char* prefix) {
        mName = name.empty() ? makeGeneratedName(prefix, nameIndex()) : name;
    }

    std::string mName;
    std::string mOriginalName;
    long mVisible = 1;
    Node* mParentNode = nullptr;
};

}  // namespace Dove

#endif
