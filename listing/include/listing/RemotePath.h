#pragma once

#include <QByteArray>
#include <vector>

// A remote directory as a path relative to the login directory, one raw name per step.
class RemotePath {
public:
    // The login directory.
    RemotePath() = default;

    // The directory `name` inside this one: "." is this directory, ".." its parent (which may
    // lie above the login directory).
    RemotePath Child(const QByteArray& name) const;

    const std::vector<QByteArray>& Segments() const { return m_segments; }
    bool operator==(const RemotePath& other) const { return m_segments == other.m_segments; }

private:
    std::vector<QByteArray> m_segments;
};
