#include "linkedlist.h"

#include <cstdlib>

namespace {

void insertBetween(LinkedList_T *list, Cell_T *cell, Cell_T *prev, Cell_T *next) {
    cell->pPrev = prev;
    cell->pNext = next;
    prev->pNext = cell;
    next->pPrev = cell;
    cell->pContainer = list;
    list->ui32Elements++;
}

QOR_RESULT push(LinkedList_T *list, Cell_T *cell, bool back) {
    if (list == nullptr || cell == nullptr)
        return QOR_RES_INVALID_PARAM;
    if (cell->pContainer != nullptr)
        return QOR_RES_UNAVAILABLE;
    if (back) {
        insertBetween(list, cell, list->sAnchor.pPrev, &list->sAnchor);
    } else {
        insertBetween(list, cell, &list->sAnchor, list->sAnchor.pNext);
    }
    return QOR_RES_OK;
}

QOR_RESULT pushObject(LinkedList_T *list, void *elem, bool back) {
    if (list == nullptr)
        return QOR_RES_INVALID_PARAM;
    Cell_T *cell = static_cast<Cell_T *>(std::calloc(1, sizeof(Cell_T)));
    if (cell == nullptr)
        return QOR_RES_NO_MEMORY;
    cell->object = elem;
    const QOR_RESULT ret = push(list, cell, back);
    if (ret != QOR_RES_OK)
        std::free(cell);
    return ret;
}

bool isEmpty(const LinkedList_T *list) { return list->ui32Elements == 0; }

} // namespace

extern "C" {

QOR_RESULT List_init(LinkedList_T *pList) {
    if (pList == nullptr)
        return QOR_RES_INVALID_PARAM;
    pList->sAnchor.object = nullptr;
    pList->sAnchor.pNext = &pList->sAnchor;
    pList->sAnchor.pPrev = &pList->sAnchor;
    pList->sAnchor.pContainer = nullptr;
    pList->ui32Elements = 0;
    return QOR_RES_OK;
}

QOR_RESULT List_initPool(LinkedList_T *pList, QOR_UINT32 n, void *param, List_pfnConstructor pfnConstructor) {
    QOR_RESULT ret = List_init(pList);
    if (ret != QOR_RES_OK)
        return ret;
    for (QOR_UINT32 i = 0; i < n; ++i) {
        void *object = pfnConstructor != nullptr ? pfnConstructor(param) : nullptr;
        ret = List_pushBackObject(pList, object);
        if (ret != QOR_RES_OK)
            return ret;
    }
    return QOR_RES_OK;
}

QOR_RESULT List_clear(LinkedList_T *pList) {
    if (pList == nullptr)
        return QOR_RES_INVALID_PARAM;
    Cell_T *cell = pList->sAnchor.pNext;
    while (cell != &pList->sAnchor) {
        Cell_T *next = cell->pNext;
        std::free(cell);
        cell = next;
    }
    return List_init(pList);
}

QOR_RESULT List_clearObjects(LinkedList_T *pList, List_pfnDestructor pfnDestructor) {
    if (pList == nullptr || pfnDestructor == nullptr)
        return QOR_RES_INVALID_PARAM;
    Cell_T *cell = pList->sAnchor.pNext;
    while (cell != &pList->sAnchor) {
        Cell_T *next = cell->pNext;
        pfnDestructor(cell->object);
        std::free(cell);
        cell = next;
    }
    return List_init(pList);
}

QOR_RESULT List_pushBack(LinkedList_T *pList, Cell_T *pCell) { return push(pList, pCell, true); }
QOR_RESULT List_pushFront(LinkedList_T *pList, Cell_T *pCell) { return push(pList, pCell, false); }
QOR_RESULT List_pushBackObject(LinkedList_T *pList, void *elem) { return pushObject(pList, elem, true); }
QOR_RESULT List_pushFrontObject(LinkedList_T *pList, void *elem) { return pushObject(pList, elem, false); }

QOR_RESULT List_detach(Cell_T *pCell) {
    if (pCell == nullptr)
        return QOR_RES_INVALID_PARAM;
    LinkedList_T *list = pCell->pContainer;
    if (list == nullptr)
        return QOR_RES_UNAVAILABLE;
    pCell->pPrev->pNext = pCell->pNext;
    pCell->pNext->pPrev = pCell->pPrev;
    pCell->pNext = nullptr;
    pCell->pPrev = nullptr;
    pCell->pContainer = nullptr;
    list->ui32Elements--;
    return QOR_RES_OK;
}

QOR_RESULT List_remove(Cell_T *pCell) {
    const QOR_RESULT ret = List_detach(pCell);
    if (ret == QOR_RES_OK)
        std::free(pCell);
    return ret;
}

QOR_RESULT List_removeObject(Cell_T *pCell, List_pfnDestructor pfnDestructor) {
    if (pCell == nullptr || pfnDestructor == nullptr)
        return QOR_RES_INVALID_PARAM;
    void *object = pCell->object;
    const QOR_RESULT ret = List_remove(pCell);
    if (ret == QOR_RES_OK)
        pfnDestructor(object);
    return ret;
}

Cell_T *List_getHead(LinkedList_T *pList) {
    if (pList == nullptr || isEmpty(pList))
        return nullptr;
    return pList->sAnchor.pNext;
}

Cell_T *List_getTail(LinkedList_T *pList) {
    if (pList == nullptr || isEmpty(pList))
        return nullptr;
    return pList->sAnchor.pPrev;
}

Cell_T *List_popFront(LinkedList_T *pList) {
    Cell_T *cell = List_getHead(pList);
    if (cell != nullptr)
        List_detach(cell);
    return cell;
}

Cell_T *List_popBack(LinkedList_T *pList) {
    Cell_T *cell = List_getTail(pList);
    if (cell != nullptr)
        List_detach(cell);
    return cell;
}

Cell_T *List_getNext(Cell_T *pCell) {
    if (pCell == nullptr || pCell->pContainer == nullptr)
        return nullptr;
    Cell_T *next = pCell->pNext;
    return next == &pCell->pContainer->sAnchor ? nullptr : next;
}

Cell_T *List_getPrev(Cell_T *pCell) {
    if (pCell == nullptr || pCell->pContainer == nullptr)
        return nullptr;
    Cell_T *prev = pCell->pPrev;
    return prev == &pCell->pContainer->sAnchor ? nullptr : prev;
}

QOR_BOOL8 List_isEmpty(const LinkedList_T *pList) {
    return (pList == nullptr || isEmpty(pList)) ? QOR_TRUE : QOR_FALSE;
}

QOR_UINT32 List_nElem(const LinkedList_T *pList) { return pList == nullptr ? 0 : pList->ui32Elements; }

Cell_T *List_visitor(LinkedList_T *pList, void *param, List_pfnVisitor pfnVisitor) {
    if (pList == nullptr || pfnVisitor == nullptr)
        return nullptr;
    Cell_T *cell = pList->sAnchor.pNext;
    while (cell != &pList->sAnchor) {
        // Read the next cell first: the visitor may free the element it is given.
        Cell_T *next = cell->pNext;
        if (pfnVisitor(cell->object, param) != QOR_TRUE)
            return cell;
        cell = next;
    }
    return nullptr;
}

QOR_BOOL8 ListVisitor_findPointer(void *listElem, void *lookingFor) {
    return listElem == lookingFor ? QOR_FALSE : QOR_TRUE;
}

} // extern "C"
