#include "logic_MutexContract.h"

namespace logictest {
namespace {

struct LogicMutexTraits
{
    using Type = LogicCtrl::Mutex;
    static constexpr const char* DEFAULT_NAME = "Logic";
    static std::unique_ptr<Type> make() { return std::make_unique<Type>(); }
};

} // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Logic, MutexContract, LogicMutexTraits);

} // namespace logictest
