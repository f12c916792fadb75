/* Page manager and navigation stack: transitions, refusals, replacement,
 * dispatch, and the bounded stack. */
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nav_stack.h"
#include "vx_page.h"

namespace {

/* Each test page records its handler calls as "enter 3", "leave 3", ... */
std::vector<std::string> calls;
int enter_result[12];
PageManager* switching_manager;  /* for handlers that switch from inside */

template <int Id>
struct TestPage {
  static int paint(HDC) { calls.push_back("paint " + std::to_string(Id)); return 100 + Id; }
  static int move(int x, int y) { calls.push_back("move " + std::to_string(Id) + " " + std::to_string(x) + "," + std::to_string(y)); return Id; }
  static int down(int, int) { calls.push_back("down " + std::to_string(Id)); return Id; }
  static int up(int, int) {
    calls.push_back("up " + std::to_string(Id));
    /* Page 1's click opens page 2 from inside the dispatch (recursive lock). */
    if (Id == 1 && switching_manager) return vx_page_switch(switching_manager, 2, 0, 0, 0, 0) == 0 ? -1 : 0;
    return Id;
  }
  static int enter(int a1, int a2, int code) {
    calls.push_back("enter " + std::to_string(Id) + " " + std::to_string(a1) + " " + std::to_string(a2) + " " + std::to_string(code));
    return enter_result[Id];
  }
  static void leave(int code) { calls.push_back("leave " + std::to_string(Id) + " " + std::to_string(code)); }
  static Page make() {
    Page p = {-1, Id, 0, paint, move, down, up, 0, enter, leave, 0, nullptr};
    return p;
  }
};

class PageManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    calls.clear();
    for (int& r : enter_result) r = 0;
    switching_manager = nullptr;
    pages_[0] = TestPage<0>::make();
    pages_[1] = TestPage<1>::make();
    pages_[2] = TestPage<2>::make();
    manager_ = vx_page_create(nullptr, 12);
    ASSERT_NE(manager_, nullptr);
    for (Page& p : pages_) ASSERT_EQ(vx_page_add(manager_, &p), 1);
  }
  void TearDown() override { vx_page_destroy(manager_); }

  Page pages_[3];
  PageManager* manager_ = nullptr;
};

TEST_F(PageManagerTest, SwitchLeavesOldEntersNewAndRecordsPreviousId) {
  EXPECT_EQ(vx_page_current_id(manager_), -1);
  ASSERT_EQ(vx_page_switch(manager_, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(pages_[0].previous_id, -1) << "the very first switch leaves the desktop's word alone";
  ASSERT_EQ(vx_page_switch(manager_, 2, 0, 0, 7, 9), 0);
  EXPECT_EQ(vx_page_current_id(manager_), 2);
  EXPECT_EQ(pages_[2].previous_id, 0);
  std::vector<std::string> expected = {"enter 0 0 0 16", "leave 0 16", "enter 2 7 9 16"};
  EXPECT_EQ(calls, expected);
}

TEST_F(PageManagerTest, SwitchToCurrentPageLeavesAndEntersAgain) {
  ASSERT_EQ(vx_page_switch(manager_, 1, 0, 0, 0, 0), 0);
  ASSERT_EQ(vx_page_switch(manager_, 1, 0, 0, 0, 0), 0);
  std::vector<std::string> expected = {"enter 1 0 0 16", "leave 1 16", "enter 1 0 0 16"};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(pages_[1].previous_id, 1);
}

TEST_F(PageManagerTest, Refusals) {
  ASSERT_EQ(vx_page_switch(manager_, 0, 0, 0, 0, 0), 0);
  calls.clear();

  /* Unknown id: nothing happens, the current page is not left. */
  EXPECT_EQ(vx_page_switch(manager_, 11, 0, 0, 0, 0), -1);
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(vx_page_current_id(manager_), 0);

  /* An enter handler's refusal: its code comes back; the old page was left but stays current. */
  enter_result[2] = -5;
  EXPECT_EQ(vx_page_switch(manager_, 2, 0, 0, 0, 0), -5);
  std::vector<std::string> expected = {"leave 0 16", "enter 2 0 0 16"};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(vx_page_current_id(manager_), 0);
  EXPECT_EQ(manager_->pending, nullptr);

  /* A switch while another is pending. */
  manager_->pending = &pages_[1];
  EXPECT_EQ(vx_page_switch(manager_, 1, 0, 0, 0, 0), -1);
  manager_->pending = nullptr;

  EXPECT_EQ(vx_page_switch(nullptr, 0, 0, 0, 0, 0), -1);
  EXPECT_EQ(vx_page_add(nullptr, &pages_[0]), 0);
  EXPECT_EQ(vx_page_add(manager_, nullptr), 0);
}

TEST_F(PageManagerTest, DispatchReachesCurrentPageWithCoordinates) {
  EXPECT_EQ(vx_page_lbutton_down(manager_, 1, 1), 0) << "no current page: 0, nothing called";
  EXPECT_EQ(vx_page_paint(manager_, nullptr), 0);
  EXPECT_TRUE(calls.empty());

  ASSERT_EQ(vx_page_switch(manager_, 2, 0, 0, 0, 0), 0);
  calls.clear();
  EXPECT_EQ(vx_page_paint(manager_, nullptr), 102);
  EXPECT_EQ(vx_page_mouse_move(manager_, 640, 470), 2);
  EXPECT_EQ(vx_page_lbutton_down(manager_, 0, 0), 2);
  EXPECT_EQ(vx_page_lbutton_up(manager_, 0, 0), 2);
  std::vector<std::string> expected = {"paint 2", "move 2 640,470", "down 2", "up 2"};
  EXPECT_EQ(calls, expected);

  manager_->active = 0;
  EXPECT_EQ(vx_page_paint(manager_, nullptr), 0);
  manager_->active = 1;

  pages_[2].paint = nullptr;
  EXPECT_EQ(vx_page_paint(manager_, nullptr), -1) << "empty slot";
}

TEST_F(PageManagerTest, ReplacedPageReceivesDispatchWhileOldWasCurrent) {
  ASSERT_EQ(vx_page_switch(manager_, 1, 0, 0, 0, 0), 0);
  static Page replacement;  /* outlives the manager, which TearDown destroys */
  replacement = TestPage<2>::make();
  replacement.id = 1;
  ASSERT_EQ(vx_page_add(manager_, &replacement), 1);
  calls.clear();
  EXPECT_EQ(vx_page_paint(manager_, nullptr), 102);
  std::vector<std::string> expected = {"paint 2"};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(ptr_array_count(manager_->pages), 3);
}

TEST_F(PageManagerTest, ClickHandlerMaySwitchPagesUnderTheLock) {
  switching_manager = manager_;
  ASSERT_EQ(vx_page_switch(manager_, 1, 0, 0, 0, 0), 0);
  calls.clear();
  EXPECT_EQ(vx_page_lbutton_up(manager_, 5, 5), -1);
  std::vector<std::string> expected = {"up 1", "leave 1 16", "enter 2 0 0 16"};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(vx_page_current_id(manager_), 2);
}

TEST_F(PageManagerTest, DestroyLeavesCurrentPage) {
  ASSERT_EQ(vx_page_switch(manager_, 2, 0, 0, 0, 0), 0);
  calls.clear();
  vx_page_destroy(manager_);
  manager_ = nullptr;
  std::vector<std::string> expected = {"leave 2 16"};
  EXPECT_EQ(calls, expected);
  vx_page_destroy(nullptr);
}

TEST_F(PageManagerTest, ObserverSeesEveryCompletedTransition) {
  static std::vector<int> seen;
  seen.clear();
  vx_page_set_observer([](int id) { seen.push_back(id); });
  vx_page_switch(manager_, 0, 0, 0, 0, 0);
  vx_page_switch(manager_, 9, 0, 0, 0, 0);
  enter_result[2] = -1;
  vx_page_switch(manager_, 2, 0, 0, 0, 0);
  vx_page_switch(manager_, 1, 0, 0, 0, 0);
  vx_page_set_observer(nullptr);
  EXPECT_EQ(seen, (std::vector<int>{0, 1}));
}

TEST_F(PageManagerTest, NavStackPushBackHome) {
  page_manager = manager_;
  nav_stack = NavStack{};
  ASSERT_EQ(nav_home(), 0);
  ASSERT_EQ(nav_push(1, 0), 0);
  ASSERT_EQ(nav_push(2, 4), 0);
  EXPECT_EQ(nav_stack.top, 2);
  EXPECT_EQ(calls.back(), "enter 2 4 0 16") << "arg1 reaches the entered page";
  ASSERT_EQ(nav_back(), 0);
  EXPECT_EQ(vx_page_current_id(manager_), 1);
  ASSERT_EQ(nav_back(), 0);
  EXPECT_EQ(vx_page_current_id(manager_), 0);

  /* Below entry 0 nothing happens. */
  calls.clear();
  EXPECT_EQ(nav_back(), -1);
  EXPECT_EQ(nav_stack.top, 0);
  EXPECT_TRUE(calls.empty());
  page_manager = nullptr;
}

TEST_F(PageManagerTest, NavStackRefusesPushWhenFull) {
  page_manager = manager_;
  nav_stack = NavStack{};
  for (int i = 1; i < NAV_STACK_SIZE; i++) ASSERT_EQ(nav_push(i % 2 + 1, 0), 0) << i;
  EXPECT_EQ(nav_stack.top, NAV_STACK_SIZE - 1);
  calls.clear();
  EXPECT_EQ(nav_push(1, 0), -1);
  EXPECT_EQ(nav_stack.top, NAV_STACK_SIZE - 1);
  EXPECT_TRUE(calls.empty());
  ASSERT_EQ(nav_home(), 0);
  EXPECT_EQ(nav_stack.top, 0);
  EXPECT_EQ(vx_page_current_id(manager_), 0);
  page_manager = nullptr;
}

}  // namespace
