#include "listing/RemotePath.h"

RemotePath RemotePath::Child(const QByteArray& name) const {
    RemotePath child = *this;
    if (name == ".")
        return child;
    if (name == ".." && !child.m_segments.empty() && child.m_segments.back() != "..")
        child.m_segments.pop_back();
    else
        child.m_segments.push_back(name);
    return child;
}
