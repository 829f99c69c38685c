#include "logic_LogicComponentCollection.h"

#include <new>

#include "expression_ExpressionCollection.h"
#include "expression_Instances.h"
#include "klib_Print.h"
#include "logic_Result.h"
#include "tms_DebugBreak.h"
#include "tms_ThreadRepository.h"

namespace LogicCtrl {

namespace {
constexpr const char* MUTEX_NAME = "LogicCol";
constexpr const char* DSP_THREAD_NAME = "DSP";
constexpr u32 DSP_PROCESS_EVENT = 18;
} // namespace

LogicComponentCollection& LogicComponentCollection::getInstance()
{
    static LogicComponentCollection instance;
    return instance;
}

LogicComponentCollection::~LogicComponentCollection()
{
    // The mutex is not freed: a late thread may still be locking it.
    finalize();
}

Mutex* LogicComponentCollection::obtainMutex()
{
    Mutex* mutex = m_mutex.load(std::memory_order_acquire);
    if (mutex != nullptr) {
        return mutex;
    }
    Mutex* made = new (std::nothrow) Mutex(MUTEX_NAME);
    if (made == nullptr) {
        return nullptr;
    }
    if (!m_mutex.compare_exchange_strong(mutex, made, std::memory_order_acq_rel)) {
        delete made; // another thread made it first
        return mutex;
    }
    return made;
}

template <typename Operation> i32 LogicComponentCollection::whenReady(Operation&& operation)
{
    Mutex* mutex = m_mutex.load(std::memory_order_acquire);
    if (mutex == nullptr || mutex->lock() != LOGIC_OK) {
        return LOGIC_E_FAILED;
    }
    const i32 result = m_state.load(std::memory_order_relaxed) == STATE_READY ? operation() : LOGIC_E_FAILED;
    mutex->unlock();
    return result;
}

i32 LogicComponentCollection::initialize()
{
    Mutex* mutex = obtainMutex();
    if (mutex == nullptr) {
        TMS::returnZero();
        return LOGIC_E_NO_MEMORY;
    }
    if (!mutex->isCreated()) {
        // The first attempt without a semaphore leaves the registry unusable for good.
        u32 expected = STATE_OFF;
        return m_state.compare_exchange_strong(expected, STATE_BROKEN) ? LOGIC_E_FAILED : LOGIC_E_NOT_SUPPORTED;
    }
    if (mutex->lock() != LOGIC_OK) {
        return LOGIC_E_FAILED;
    }
    if (m_state.load(std::memory_order_relaxed) != STATE_OFF) {
        mutex->unlock();
        return LOGIC_E_NOT_SUPPORTED;
    }
    m_components.clear();
    m_state.store(STATE_READY, std::memory_order_relaxed);
    KLIB_LOG("[i] LogicComponentCollection::initialize - LOGICCOMPO_DB() initialized.\n");
    mutex->unlock();
    return LOGIC_OK;
}

i32 LogicComponentCollection::finalize()
{
    return whenReady([this] {
        m_components.clear();
        m_state.store(STATE_OFF, std::memory_order_relaxed);
        return LOGIC_OK;
    });
}

i32 LogicComponentCollection::addComponent(ILogicComponent* component)
{
    return whenReady([this, component] {
        if (component == nullptr) {
            TMS::returnZero();
            return LOGIC_E_ARGUMENT;
        }
        try {
            return m_components.try_emplace(component->getUniqID(), component).second ? LOGIC_OK : LOGIC_E_UID;
        } catch (const std::bad_alloc&) {
            return LOGIC_E_NO_MEMORY;
        }
    });
}

i32 LogicComponentCollection::removeComponent(ILogicComponent* component)
{
    return whenReady([this, component] {
        if (component == nullptr) {
            TMS::returnZero();
            return LOGIC_E_ARGUMENT;
        }
        return m_components.erase(component->getUniqID()) != 0 ? LOGIC_OK : LOGIC_E_ARGUMENT;
    });
}

i32 LogicComponentCollection::clear()
{
    return whenReady([this] {
        m_components.clear();
        return LOGIC_OK;
    });
}

ILogicComponent* LogicComponentCollection::findComponent(u32 uniqID)
{
    ILogicComponent* component = nullptr;
    whenReady([this, uniqID, &component] {
        const auto found = m_components.find(uniqID);
        component = found != m_components.end() ? found->second : nullptr;
        return LOGIC_OK;
    });
    return component;
}

const Expression::IExpression& findExpression(const char* name)
{
    // The logic library's own collection; nothing is registered in it, so every port gets the fallback.
    static const Expression::ExpressionCollection collection;
    const Expression::IExpression* found = collection.getExpression(collection.findNameId(name));
    return found != nullptr ? *found : *Expression::getDefaultExpression();
}

i32 requestDspProcessing()
{
    TMS::ThreadRepository::getThread(DSP_THREAD_NAME)->setUserEvent(DSP_PROCESS_EVENT);
    return LOGIC_OK;
}

} // namespace LogicCtrl
