// One direction of the link: packets wait in arrival order until their release time (arrival
// plus the one-way delay), and a set fraction of them is lost on the way. Every slot is
// allocated once, up front: a packet is read straight into the slot it waits in and written
// from there, so forwarding allocates nothing and copies nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace netlink {

// A deterministic stream of loss decisions: the same seed gives the same pattern (splitmix64).
class LossPattern {
public:
    LossPattern(double fraction, std::uint64_t seed);
    // Starts the pattern again from its seed.
    void Restart() { state_ = seed_; }
    // True for the packet to be dropped.
    bool Drop() {
        if (threshold_ == 0)
            return false;
        state_ += 0x9E3779B97F4A7C15ull;
        std::uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return (z ^ (z >> 31)) < threshold_;
    }

private:
    std::uint64_t threshold_;
    std::uint64_t seed_;
    std::uint64_t state_;
};

// Whether an IP packet (version 4, or 6 without extension headers) is a TCP segment with the
// SYN flag: the start of a connection.
bool IsTcpSyn(const std::uint8_t* packet, std::size_t bytes);

class DelayLine {
public:
    static constexpr std::size_t kSlotBytes = 2048; // above the link's MTU of 1500

    explicit DelayLine(std::size_t slots);

    bool Full() const { return count_ == release_.size(); }
    bool Empty() const { return count_ == 0; }
    // Where the next packet is to be read to (only while not Full()).
    std::uint8_t* Tail() { return data_.data() + Index(head_ + count_) * kSlotBytes; }
    // Takes the packet just read to Tail(); it may leave at `releaseNs`.
    void Commit(std::size_t bytes, std::uint64_t releaseNs) {
        const std::size_t at = Index(head_ + count_);
        length_[at] = static_cast<std::uint32_t>(bytes);
        release_[at] = releaseNs;
        ++count_;
    }
    // The oldest packet (only while not Empty()). The delay is the same for every packet, so
    // arrival order is release order.
    std::uint64_t HeadRelease() const { return release_[head_]; }
    const std::uint8_t* Head() const { return data_.data() + head_ * kSlotBytes; }
    std::size_t HeadBytes() const { return length_[head_]; }
    void Pop() {
        head_ = Index(head_ + 1);
        --count_;
    }

private:
    std::size_t Index(std::size_t position) const { return position % release_.size(); }

    std::vector<std::uint8_t> data_;
    std::vector<std::uint32_t> length_;
    std::vector<std::uint64_t> release_;
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

} // namespace netlink
