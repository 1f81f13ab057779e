#include <gtest/gtest.h>

#include <vector>

#include "linkedlist.h"

namespace {

struct Item {
    int value;
    Cell_T cell;
};

class ListTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(List_init(&list), QOR_RES_OK);
        for (int i = 0; i < 3; ++i) {
            items[i].value = i;
            items[i].cell = Cell_T{&items[i], nullptr, nullptr, nullptr};
        }
    }

    std::vector<int> values() {
        std::vector<int> out;
        for (Cell_T *c = List_getHead(&list); c != nullptr; c = List_getNext(c)) {
            out.push_back(static_cast<Item *>(c->object)->value);
        }
        return out;
    }

    LinkedList_T list;
    Item items[3];
};

TEST_F(ListTest, PushBackAndFrontKeepOrderAndCount) {
    EXPECT_EQ(List_pushBack(&list, &items[1].cell), QOR_RES_OK);
    EXPECT_EQ(List_pushBack(&list, &items[2].cell), QOR_RES_OK);
    EXPECT_EQ(List_pushFront(&list, &items[0].cell), QOR_RES_OK);
    EXPECT_EQ(values(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(List_nElem(&list), 3u);
    EXPECT_FALSE(List_isEmpty(&list));
    EXPECT_EQ(List_getTail(&list), &items[2].cell);
    EXPECT_EQ(List_getPrev(&items[0].cell), nullptr);
    EXPECT_EQ(List_getPrev(&items[2].cell), &items[1].cell);
    // The end of the list is null, never the anchor.
    EXPECT_EQ(List_getNext(&items[2].cell), nullptr);
}

TEST_F(ListTest, CellInAListCannotBePushedAgain) {
    LinkedList_T other;
    List_init(&other);
    ASSERT_EQ(List_pushBack(&list, &items[0].cell), QOR_RES_OK);
    EXPECT_EQ(List_pushBack(&list, &items[0].cell), QOR_RES_UNAVAILABLE);
    EXPECT_EQ(List_pushFront(&other, &items[0].cell), QOR_RES_UNAVAILABLE);
    EXPECT_EQ(List_nElem(&list), 1u);
    EXPECT_EQ(List_nElem(&other), 0u);
    EXPECT_EQ(items[0].cell.pContainer, &list);
}

TEST_F(ListTest, DetachAndPop) {
    EXPECT_EQ(List_detach(&items[0].cell), QOR_RES_UNAVAILABLE);
    EXPECT_EQ(List_detach(nullptr), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(List_popFront(&list), nullptr);
    EXPECT_EQ(List_popBack(&list), nullptr);
    EXPECT_EQ(List_nElem(&list), 0u);

    for (Item &i : items)
        List_pushBack(&list, &i.cell);
    EXPECT_EQ(List_detach(&items[1].cell), QOR_RES_OK);
    EXPECT_EQ(items[1].cell.pContainer, nullptr);
    EXPECT_EQ(List_getNext(&items[1].cell), nullptr);
    EXPECT_EQ(values(), (std::vector<int>{0, 2}));
    EXPECT_EQ(List_popBack(&list), &items[2].cell);
    EXPECT_EQ(List_popFront(&list), &items[0].cell);
    EXPECT_TRUE(List_isEmpty(&list));
    // A detached cell can join a list again.
    EXPECT_EQ(List_pushBack(&list, &items[1].cell), QOR_RES_OK);
}

TEST_F(ListTest, NullArguments) {
    EXPECT_EQ(List_init(nullptr), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(List_clear(nullptr), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(List_pushBack(nullptr, &items[0].cell), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(List_pushBack(&list, nullptr), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(List_pushBackObject(nullptr, items), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(List_clearObjects(&list, nullptr), QOR_RES_INVALID_PARAM);
    EXPECT_EQ(List_removeObject(nullptr, [](void *) {}), QOR_RES_INVALID_PARAM);
    EXPECT_TRUE(List_isEmpty(nullptr));
    EXPECT_EQ(List_nElem(nullptr), 0u);
    EXPECT_EQ(List_getHead(nullptr), nullptr);
    EXPECT_EQ(List_visitor(nullptr, nullptr, ListVisitor_findPointer), nullptr);
    EXPECT_EQ(List_visitor(&list, nullptr, nullptr), nullptr);
}

QOR_BOOL8 stopAtValue(void *object, void *param) {
    Item *item = static_cast<Item *>(object);
    std::vector<int> *seen = static_cast<std::vector<int> *>(param);
    seen->push_back(item->value);
    return item->value == 1 ? 2 : QOR_TRUE; // anything but exactly 1 stops the walk
}

TEST_F(ListTest, VisitorStopsOnAnyValueButOne) {
    for (Item &i : items)
        List_pushBack(&list, &i.cell);
    std::vector<int> seen;
    EXPECT_EQ(List_visitor(&list, &seen, stopAtValue), &items[1].cell);
    EXPECT_EQ(seen, (std::vector<int>{0, 1}));

    EXPECT_EQ(List_visitor(&list, &items[2], ListVisitor_findPointer), &items[2].cell);
    int absent = 0;
    EXPECT_EQ(List_visitor(&list, &absent, ListVisitor_findPointer), nullptr);
}

int g_destroyed = 0;
void *makeInt(void *param) { return new int(*static_cast<int *>(param)); }
void freeInt(void *object) {
    delete static_cast<int *>(object);
    g_destroyed++;
}

TEST(ListAllocated, PoolObjectsAndRemoval) {
    LinkedList_T list;
    int seed = 7;
    g_destroyed = 0;
    ASSERT_EQ(List_initPool(&list, 3, &seed, makeInt), QOR_RES_OK);
    EXPECT_EQ(List_nElem(&list), 3u);
    EXPECT_EQ(*static_cast<int *>(List_getHead(&list)->object), 7);

    int extra = 9;
    ASSERT_EQ(List_pushFrontObject(&list, new int(extra)), QOR_RES_OK);
    EXPECT_EQ(*static_cast<int *>(List_getHead(&list)->object), 9);

    EXPECT_EQ(List_removeObject(List_getHead(&list), freeInt), QOR_RES_OK);
    EXPECT_EQ(g_destroyed, 1);
    EXPECT_EQ(List_nElem(&list), 3u);

    EXPECT_EQ(List_clearObjects(&list, freeInt), QOR_RES_OK);
    EXPECT_EQ(g_destroyed, 4);
    EXPECT_TRUE(List_isEmpty(&list));

    // A pool without constructor holds null objects; clearing frees the cells only.
    ASSERT_EQ(List_initPool(&list, 2, nullptr, nullptr), QOR_RES_OK);
    EXPECT_EQ(List_getHead(&list)->object, nullptr);
    Cell_T *tail = List_popBack(&list);
    EXPECT_EQ(List_remove(tail), QOR_RES_UNAVAILABLE); // no longer in a list: not freed by remove
    free(tail);
    EXPECT_EQ(List_clear(&list), QOR_RES_OK);
    EXPECT_EQ(List_nElem(&list), 0u);
}

TEST(ListAllocated, VisitorMayFreeTheElementItIsGiven) {
    // The walk reads the next cell before the call, so a clearing visitor that frees its element is safe;
    // the list still counts the freed elements and is discarded afterwards.
    struct Owned {
        Cell_T cell;
    };
    LinkedList_T list;
    List_init(&list);
    for (int i = 0; i < 3; ++i) {
        Owned *o = static_cast<Owned *>(calloc(1, sizeof(Owned)));
        o->cell.object = o;
        List_pushBack(&list, &o->cell);
    }
    EXPECT_EQ(List_visitor(&list, nullptr,
                           [](void *object, void *) -> QOR_BOOL8 {
                               free(object);
                               return QOR_TRUE;
                           }),
              nullptr);
    EXPECT_EQ(List_nElem(&list), 3u);
}

} // namespace
