#include "server/body_budget.h"

#include <gtest/gtest.h>

namespace tessaly::server {
namespace {

TEST(BodyBudgetTest, ReservationsShareTheLimitAndGiveBackWhenDone) {
  BodyBudget budget(100);
  BodyReservation first;
  EXPECT_TRUE(first.GrowTo(budget, 60));
  EXPECT_TRUE(first.GrowTo(budget, 40));  // holds what it held
  {
    BodyReservation second;
    EXPECT_FALSE(second.GrowTo(budget, 50));
    EXPECT_TRUE(second.GrowTo(budget, 40));
    EXPECT_FALSE(first.GrowTo(budget, 61));
    EXPECT_EQ(budget.in_use(), 100u);
  }
  EXPECT_EQ(budget.in_use(), 60u);
  first = BodyReservation();
  EXPECT_EQ(budget.in_use(), 0u);
}

}  // namespace
}  // namespace tessaly::server
