// CTRing: a circular doubly linked list whose head moves as it is searched.
#pragma once

#include <cstdint>

namespace vimbra {

// T needs a public 32-bit `handle` member, the key that Find compares.
template <class T>
class CTRing {
  public:
    struct Node {
        T data;
        Node* prev;
        Node* next;
    };

    CTRing() = default;
    CTRing(const CTRing&) = delete;
    CTRing& operator=(const CTRing&) = delete;
    virtual ~CTRing() { RemoveAll(); }

    // Inserts a copy of `record` just before head and makes it the new head.
    virtual void Add(const T& record) {
        Node* node = new Node{record, nullptr, nullptr};
        if (head_ == nullptr) {
            node->prev = node->next = node;
            count_ = 1;
        } else {
            ++count_;
            node->prev = head_->prev;
            node->next = head_;
            head_->prev->next = node;
            head_->prev = node;
        }
        head_ = node;
    }

    // Walks the ring from head comparing each handle once; head is left on the
    // match (1) or on the node that was last when the walk began (0). The stop
    // test compares handle values, not nodes.
    int Find(int32_t key) {
        if (head_ == nullptr) return 0;
        const int32_t last = head_->prev->data.handle;
        if (head_->data.handle == key) return 1;
        for (;;) {
            if (head_->data.handle == last) return 0;
            head_ = head_->next;
            if (head_->data.handle == key) return 1;
        }
    }

    // Frees the head node and makes its successor head; 0 when empty.
    int RemoveHead() {
        if (head_ == nullptr) return 0;
        Node* old = head_;
        if (old->next == old) {
            head_ = nullptr;
            count_ = 0;
        } else {
            --count_;
            old->prev->next = old->next;
            old->next->prev = old->prev;
            head_ = old->next;
        }
        delete old;
        return 1;
    }

    void RemoveAll() {
        while (RemoveHead()) {
        }
    }

    Node* Head() const { return head_; }
    int32_t Count() const { return count_; }

  private:
    Node* head_ = nullptr;
    int32_t count_ = 0;
};

}  // namespace vimbra
